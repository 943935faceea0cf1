// The os area of the platform layer: every service the Parts call in place of
// the kernel, registry, shell-folder and timer services. Parts include this
// header only.
#pragma once

#include "platform/os/clock.h"
#include "platform/os/codepages.h"
#include "platform/os/environment.h"
#include "platform/os/errors.h"
#include "platform/os/files.h"
#include "platform/os/library.h"
#include "platform/os/paths.h"
#include "platform/os/process.h"
#include "platform/os/registry.h"
#include "platform/os/resources.h"
#include "platform/os/sync.h"
#include "platform/os/threads.h"
#include "platform/os/utf.h"
#include "platform/os/version.h"
