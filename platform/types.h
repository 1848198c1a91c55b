#pragma once

#include <cstdint>
#include <string>

// Vocabulary shared by the portable logic and both platform backends.
namespace platform {

// Opaque window and module handles; the Win32 backend stores HWND/HINSTANCE.
using WindowHandle = void*;
using InstanceHandle = void*;

// The platform's path limit in UTF-16 code units, terminator included.
inline constexpr size_t kMaxPath = 260;

// Win32 error codes the logic distinguishes.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorReparsePointEncountered = 4395;

// HRESULTs: the two the text conversion raises, and the bits that put a
// Win32 error code into the Win32 facility (HRESULT_FROM_WIN32).
inline constexpr int32_t kHresultInvalidArgument = static_cast<int32_t>(0x80070057);
inline constexpr int32_t kHresultOutOfMemory = static_cast<int32_t>(0x8007000E);
inline constexpr uint32_t kHresultWin32Base = 0x80070000;

// Code pages understood by the text conversions.
inline constexpr uint32_t kCodePageAnsi = 0;        // CP_ACP
inline constexpr uint32_t kCodePageThreadAnsi = 3;  // CP_THREAD_ACP

}  // namespace platform
