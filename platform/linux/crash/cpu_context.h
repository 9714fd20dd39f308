// Register contexts in the minidump's AMD64 layout.
#pragma once

#include <sys/user.h>

#include "platform/linux/crash/crash_context.h"
#include "platform/linux/crash/minidump_format.h"

namespace platform {
namespace crash {

// The crashed thread at the fault, from the signal handler's context.
void ContextFromCrash(const CrashContext& crash, MdContextAmd64& out);
// A thread stopped with ptrace; `fpregs` may be null.
void ContextFromRegisters(const user_regs_struct& regs, const user_fpregs_struct* fpregs, MdContextAmd64& out);

}  // namespace crash
}  // namespace platform
