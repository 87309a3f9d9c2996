// Calling conventions of the driver interface and its callbacks.
//
// On 32-bit Windows three conventions meet: COM's IUnknown methods are stdcall, the
// driver's own methods use the member-call convention of the 32-bit Microsoft compiler
// (thiscall, which GCC also uses for member functions there), and the host callbacks
// are plain caller-cleans cdecl. Everywhere else there is one convention and the
// macros are empty.
#pragma once

#if defined(_WIN32) && !defined(_WIN64) && defined(__i386__)
#define TEL_STDCALL __attribute__((stdcall))
#define TEL_THISCALL __attribute__((thiscall))
#define TEL_CDECL __attribute__((cdecl))
#else
#define TEL_STDCALL
#define TEL_THISCALL
#define TEL_CDECL
#endif

// Functions a driver module exports to COM.
#if defined(_WIN32)
#define TEL_EXPORT extern "C" __declspec(dllexport)
#else
#define TEL_EXPORT extern "C" __attribute__((visibility("default")))
#endif
