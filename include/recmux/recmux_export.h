/* Export and calling-convention macros shared by the public headers. */
#ifndef RECMUX_EXPORT_H
#define RECMUX_EXPORT_H

#if defined(_WIN32)
#  if defined(RECMUX_BUILDING)
#    define RECMUX_API __declspec(dllexport)
#  else
#    define RECMUX_API __declspec(dllimport)
#  endif
#  define RECMUX_CDECL __cdecl
#  define RECMUX_STDCALL __stdcall
#else
#  if defined(RECMUX_BUILDING)
#    define RECMUX_API __attribute__((visibility("default")))
#  else
#    define RECMUX_API
#  endif
/* x86-64 and the other targets here have one calling convention. */
#  define RECMUX_CDECL
#  define RECMUX_STDCALL
#endif

#endif
