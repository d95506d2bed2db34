/// \file
//// \file
/// Umbrella header: every public type of the library.
#pragma once

#include <tavrin/base64.h>
#include <tavrin/binarydocument.h>
#include <tavrin/cexception.h>
#include <tavrin/com.h>
#include <tavrin/console.h>
#include <tavrin/creaderbinary.h>
#include <tavrin/creaderjson.h>
#include <tavrin/creaderxml.h>
#include <tavrin/ctextfile.h>
#include <tavrin/cwriterbinary.h>
#include <tavrin/cwriterjson.h>
#include <tavrin/cwriterxml.h>
#include <tavrin/encodings.h>
#include <tavrin/export.h>
#include <tavrin/iexception.h>
#include <tavrin/interfaces.h>
#include <tavrin/jsondocument.h>
#include <tavrin/logging.h>
#include <tavrin/module.h>
#include <tavrin/qvarray.h>
#include <tavrin/qvdatetime.h>
#include <tavrin/qvexception.h>
#include <tavrin/qvmapex.h>
#include <tavrin/qvmappolicyplexmanager.h>
#include <tavrin/qvplexmanager.h>
#include <tavrin/qvrtti.h>
#include <tavrin/qvstream.h>
#include <tavrin/qvstreambuffer.h>
#include <tavrin/qvstreamfile.h>
#include <tavrin/qvstring.h>
#include <tavrin/qvvariant.h>
#include <tavrin/version.h>
#include <tavrin/xmldocument.h>

/// \mainpage Tavrin API reference
///
/// Tavrin writes application objects as binary, JSON or XML documents and reads them back.
/// An application class implements Tavrin::ISerializable (an object with named values) or
/// Tavrin::ISerializableContainer (an ordered sequence of elements); a writer
/// (Tavrin::CWriterBinary, Tavrin::CWriterJson, Tavrin::CWriterXml) hands it a value writer, a
/// reader (Tavrin::CReaderBinary, Tavrin::CReaderJson, Tavrin::CReaderXml) a value reader. Every
/// failure the library detects is an exception derived from IException.
///
/// Without the application's classes, Tavrin::CBinaryDocument, Tavrin::CJsonDocument and
/// Tavrin::CXmlDocument decode a document for inspection (the `tavrin` command-line tool is
/// built on them).
///
/// Include `<tavrin/tavrin.h>` for everything. The byte layout of the binary document and the
/// shapes of the JSON and XML documents are described in docs/FORMATS.md, building and a first
/// program in docs/QUICKSTART.md.

/// \namespace Tavrin
/// The serialization interfaces, the writers and readers of the three formats, the text file
/// and the exceptions they raise.

/// \namespace Tavrin::Detail
/// Bases that public classes share (the exceptions' body, the text readers' document text);
/// applications use the derived classes.

/// \namespace Tavrin::Encodings
/// Conversion between Windows code pages and wide text.

/// \namespace Tavrin::Base64
/// Base64 encoding and decoding of byte blobs.

/// \namespace Tavrin::Com
/// The per-thread apartment calls that the text file's code-page guess relies on.

/// \namespace Tavrin::Console
/// The process's standard streams, for command-line programs built on the library.

/// \namespace Logging
/// The log channels that exceptions report through, and the process-wide sink.

/// \namespace QvRTTI
/// The registry of clone functions through which variants copy the objects they hold.

/// \namespace QvMapTypes
/// The entry type of the keyed table QvMapEx.
