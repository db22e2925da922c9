// The host's command function and the one dispatcher through which the
// plug-in reaches it.
#pragma once

#include <cstdint>

#include "platform/win_api.h"

// Host command values and parameters are pointer-sized: 32 bits in the DLL,
// which is exactly the host's ABI, and 64 bits in the native build so that
// pointers survive the trip through a parameter.
typedef intptr_t HostWord;
typedef HostWord ImageHandle;
typedef HostWord(WINAPI* HostCallback)(HostWord code, HostWord p1, HostWord p2, HostWord p3);

#ifdef _WIN32
static_assert(sizeof(HostWord) == 4, "the host passes 32-bit command words");
static_assert(sizeof(void*) == 4, "the DLL is a 32-bit library");
static_assert(sizeof(HostCallback) == 4, "the host's function pointer is 32 bits");
#endif

enum HostCommand : HostWord {
  HC_GET_PIXELS = 0,
  HC_GET_SIZE = 1,
  HC_UPDATE = 2,
  HC_NEW_IMAGE = 14,
  HC_SELECT_IMAGE = 16,
  HC_SET_TITLE = 18,
  HC_GET_TITLE = 19,
};

// Added to every command code when the host is the Light edition.
constexpr HostWord LIGHT_COMMAND_OFFSET = 32;
// First parameter of HC_SELECT_IMAGE.
constexpr HostWord SELECT_IMAGE_KIND = 0x1001;

// Calls the host's command function (with the edition offset applied) and
// returns its result unchanged; returns 0 when no host function is known yet.
HostWord call_host(HostWord code, HostWord p1, HostWord p2, HostWord p3);
