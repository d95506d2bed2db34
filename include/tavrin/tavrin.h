// Umbrella header: every public type of the library.
#pragma once

#include <tavrin/export.h>
#include <tavrin/logging.h>
#include <tavrin/iexception.h>
#include <tavrin/cexception.h>
#include <tavrin/qvexception.h>
#include <tavrin/interfaces.h>
#include <tavrin/qvstring.h>
#include <tavrin/qvstream.h>
