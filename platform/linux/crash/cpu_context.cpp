#include "platform/linux/crash/cpu_context.h"

#include <cstring>

namespace platform {
namespace crash {

void ContextFromCrash(const CrashContext& crash, MdContextAmd64& out) {
    std::memset(&out, 0, sizeof(out));
    const greg_t* g = crash.context.uc_mcontext.gregs;
    auto reg = [g](int index) { return static_cast<std::uint64_t>(g[index]); };
    out.contextFlags = kMdContextFull;
    out.rax = reg(REG_RAX), out.rcx = reg(REG_RCX), out.rdx = reg(REG_RDX), out.rbx = reg(REG_RBX);
    out.rsp = reg(REG_RSP), out.rbp = reg(REG_RBP), out.rsi = reg(REG_RSI), out.rdi = reg(REG_RDI);
    out.r8 = reg(REG_R8), out.r9 = reg(REG_R9), out.r10 = reg(REG_R10), out.r11 = reg(REG_R11);
    out.r12 = reg(REG_R12), out.r13 = reg(REG_R13), out.r14 = reg(REG_R14), out.r15 = reg(REG_R15);
    out.rip = reg(REG_RIP);
    out.eflags = static_cast<std::uint32_t>(reg(REG_EFL));
    // cs, gs, fs and (on current kernels) ss, 16 bits each.
    std::uint64_t segments = reg(REG_CSGSFS);
    out.segCs = static_cast<std::uint16_t>(segments);
    out.segGs = static_cast<std::uint16_t>(segments >> 16);
    out.segFs = static_cast<std::uint16_t>(segments >> 32);
    out.segSs = static_cast<std::uint16_t>(segments >> 48);
    if (out.segSs == 0) out.segSs = 0x2b;  // the user data segment
    if (crash.hasFpState) {
        std::memcpy(out.fltSave, crash.fpState, sizeof(out.fltSave));
        std::memcpy(&out.mxCsr, crash.fpState + 24, sizeof(out.mxCsr));  // MXCSR in the FXSAVE image
    }
}

void ContextFromRegisters(const user_regs_struct& r, const user_fpregs_struct* fpregs, MdContextAmd64& out) {
    std::memset(&out, 0, sizeof(out));
    out.contextFlags = kMdContextFull;
    out.rax = r.rax, out.rcx = r.rcx, out.rdx = r.rdx, out.rbx = r.rbx;
    out.rsp = r.rsp, out.rbp = r.rbp, out.rsi = r.rsi, out.rdi = r.rdi;
    out.r8 = r.r8, out.r9 = r.r9, out.r10 = r.r10, out.r11 = r.r11;
    out.r12 = r.r12, out.r13 = r.r13, out.r14 = r.r14, out.r15 = r.r15;
    out.rip = r.rip;
    out.eflags = static_cast<std::uint32_t>(r.eflags);
    out.segCs = static_cast<std::uint16_t>(r.cs);
    out.segSs = static_cast<std::uint16_t>(r.ss);
    out.segDs = static_cast<std::uint16_t>(r.ds);
    out.segEs = static_cast<std::uint16_t>(r.es);
    out.segFs = static_cast<std::uint16_t>(r.fs);
    out.segGs = static_cast<std::uint16_t>(r.gs);
    if (fpregs) {
        static_assert(sizeof(user_fpregs_struct) == sizeof(out.fltSave), "FXSAVE image");
        std::memcpy(out.fltSave, fpregs, sizeof(out.fltSave));
        out.mxCsr = fpregs->mxcsr;
    }
}

}  // namespace crash
}  // namespace platform
