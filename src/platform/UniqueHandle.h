#pragma once
// Kernel handles are owned by platform::UniqueHandle, one of the owners of
// UniqueResource.h.
#include "platform/UniqueResource.h"
