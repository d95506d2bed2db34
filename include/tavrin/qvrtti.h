/// \file
/// Polymorphic objects that a variant can hold, and the class registry that copies them.
#pragma once

#include <tavrin/export.h>

/// An object that a QvVariant can own. Copies are made through the clone function registered
/// for the object's run-time class name.
class TAVRIN_API IObject {
public:
    virtual ~IObject() = default;
    /// The name under which the object's class registered its clone function. Must stay valid
    /// as long as the object lives.
    virtual const wchar_t* GetRuntimeClassName() const = 0;

protected:
    /// Constructed, copied and assigned only as part of an application class.
    ///@{
    IObject() = default;
    IObject(const IObject&) = default;
    IObject& operator=(const IObject&) = default;
    ///@}
};

namespace QvRTTI {

/// Returns a new heap object, a copy of the argument (the caller owns it), or null when it
/// cannot copy.
using CloneFunction = IObject* (*)(const IObject&);

/// The clone function registered for `className`, or null when none is (or `className` is null).
/// Safe to call from any thread.
TAVRIN_API CloneFunction getClone(const wchar_t* className);

/// Registers `clone` for `className` (copied; a null name does nothing), replacing an earlier
/// registration; a null `clone` removes the registration. Safe to call from any thread; throws
/// only for memory exhaustion.
TAVRIN_API void registerClone(const wchar_t* className, CloneFunction clone);

}  // namespace QvRTTI
