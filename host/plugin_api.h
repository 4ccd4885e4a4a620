// What a plug-in library offers the host: its four exports, class
// descriptors, and utility objects with their begin/end editing.
#pragma once

#include "host/core.h"
#include "host/cstr.h"
#include "host/dialog.h"

using SClass_ID = DWORD;
inline constexpr SClass_ID UTILITY_CLASS_ID = 0x1020;

// The host interface version a library is built for.
inline constexpr DWORD kHostInterfaceVersion = 0x10680800;

// The host's utility-panel interface (stored by utilities, otherwise unused).
class IUtil {
public:
    virtual ~IUtil() = default;
    virtual void CloseUtility() {}
};

// A utility plug-in: the host opens it with BeginEditParams and closes it
// with EndEditParams.
class UtilityObj {
public:
    virtual ~UtilityObj() = default;
    virtual void BeginEditParams(Interface* ip, IUtil* iu) = 0;
    virtual void EndEditParams(Interface* ip, IUtil* iu) = 0;
    virtual void SelectionSetChanged(Interface*, IUtil*) {}
    virtual void DeleteThis() = 0;
    virtual void SetStartupParam(CStr) {}
};

// Describes one plug-in class and creates its objects.
class ClassDesc {
public:
    virtual ~ClassDesc() = default;
    virtual int IsPublic() = 0;
    virtual void* Create(BOOL loading = FALSE) = 0;
    virtual const char* ClassName() = 0;
    virtual SClass_ID SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    virtual const char* Category() = 0;
    virtual const char* InternalName() { return nullptr; }
    virtual HINSTANCE HInstance() { return nullptr; }
};

// The parameter-block capable descriptor; it adds nothing this host uses.
class ClassDesc2 : public ClassDesc {};

// The library exports, by name, with C linkage.
extern "C" {
using LibDescriptionFn = const char* (*)();
using LibNumberClassesFn = int (*)();
using LibClassDescFn = ClassDesc* (*)(int);
using LibVersionFn = unsigned long (*)();
}
