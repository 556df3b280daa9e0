/* Preloaded into every emulated 32-bit Linux process of the i686 test root
 * (its /etc/ld.so.preload, which only those processes read).
 *
 * qemu-user delivers SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGTRAP with the
 * trap number of the signal frame's machine context left at -1. Wine decides
 * from that number which Windows exception a fault is, so under emulation an
 * access violation arrives as an illegal instruction (c000001d) and every
 * structured handler over a bad pointer (IsBadReadPtr, a guarded read) fails.
 * This library wraps sigaction for those signals: the process's handler is
 * called through a trampoline that first fills in the number the processor
 * would have given, from the signal and its si_code.
 *
 * Built without the C library (gcc -m32 -shared -nostdlib) against the i386
 * headers of the root; dlsym comes from the process's own C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <sys/ucontext.h>

enum {
  kTrapDivide = 0,        /* #DE */
  kTrapSingleStep = 1,    /* #DB */
  kTrapBreakpoint = 3,    /* int3 */
  kTrapOverflow = 4,      /* #OF */
  kTrapInvalidOp = 6,     /* #UD */
  kTrapProtection = 13,   /* #GP */
  kTrapPageFault = 14,    /* #PF */
  kTrapFloatingPoint = 16,/* #MF */
  kTrapAlignment = 17     /* #AC */
};

typedef void (*info_handler)(int, siginfo_t *, void *);
typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);

static info_handler volatile handlers[NSIG];

static int fixed_signal(int sig) {
  return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP;
}

static int trap_number(int sig, int code) {
  switch (sig) {
    case SIGSEGV: return code == SI_KERNEL ? kTrapProtection : kTrapPageFault;
    case SIGBUS: return code == BUS_ADRALN ? kTrapAlignment : kTrapPageFault;
    case SIGILL: return kTrapInvalidOp;
    case SIGFPE:
      if (code == FPE_INTDIV) return kTrapDivide;
      if (code == FPE_INTOVF) return kTrapOverflow;
      return kTrapFloatingPoint;
    default: return code == TRAP_TRACE ? kTrapSingleStep : kTrapBreakpoint;
  }
}

static void trampoline(int sig, siginfo_t *info, void *context) {
  ucontext_t *uc = context;
  if (uc && info && uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
    uc->uc_mcontext.gregs[REG_TRAPNO] = trap_number(sig, info->si_code);
  info_handler handler = handlers[sig];
  if (handler) handler(sig, info, context);
}

static sigaction_fn real_sigaction(void) {
  static sigaction_fn real;
  if (!real) real = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
  return real;
}

int sigaction(int sig, const struct sigaction *act, struct sigaction *old) {
  sigaction_fn real = real_sigaction();
  if (!real) return -1;
  if (sig <= 0 || sig >= NSIG || !fixed_signal(sig)) return real(sig, act, old);

  info_handler previous = handlers[sig];
  int wrap = act && (act->sa_flags & SA_SIGINFO) && act->sa_sigaction &&
             act->sa_handler != SIG_IGN && act->sa_handler != SIG_DFL;
  int rc;
  if (wrap) {
    struct sigaction copy = *act;
    handlers[sig] = act->sa_sigaction;
    copy.sa_sigaction = trampoline;
    rc = real(sig, &copy, old);
    if (rc != 0) handlers[sig] = previous;
  } else {
    rc = real(sig, act, old);
    if (rc == 0 && act) handlers[sig] = NULL;
  }
  /* The caller is told about its own handler, never the trampoline. */
  if (rc == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == trampoline)
    old->sa_sigaction = previous;
  return rc;
}
