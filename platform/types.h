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
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorAlreadyExists = 183;

// Code pages understood by the text conversions.
inline constexpr uint32_t kCodePageAnsi = 0;        // CP_ACP
inline constexpr uint32_t kCodePageThreadAnsi = 3;  // CP_THREAD_ACP

}  // namespace platform
