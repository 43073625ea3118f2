// Console events on Windows: Ctrl-C (unless the program started with it
// ignored), Ctrl-Break and the console closing.
#include <windows.h>

#include "platform/platform.h"

namespace sndblok {
namespace {

// The console handler runs on a thread of its own while the conversion goes
// on. It takes this lock, so the main thread is never stopped between making
// an output and recording it, then stops the main thread for good.
CRITICAL_SECTION window;
HANDLE mainThread;
void (*volatile terminationCleanup)() = nullptr;

BOOL WINAPI Interrupted(DWORD) {
    EnterCriticalSection(&window);
    SuspendThread(mainThread);
    // SuspendThread only asks; the thread has stopped, and finished the
    // write it was in, once its registers can be read.
    CONTEXT registers;
    registers.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(mainThread, &registers);
    if (terminationCleanup != nullptr) terminationCleanup();
    // Ends at once, as Windows ends an interrupted program, without the
    // exit's flush of the stream buffers into what was just emptied.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

void CatchTermination() {
    InitializeCriticalSection(&window);
    const HANDLE self = GetCurrentProcess();
    DuplicateHandle(self, GetCurrentThread(), self, &mainThread,
                    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
    SetConsoleCtrlHandler(Interrupted, TRUE);
}

void OnTermination(void (*cleanup)()) { terminationCleanup = cleanup; }

void DeferTermination() { EnterCriticalSection(&window); }

void AllowTermination() { LeaveCriticalSection(&window); }

}  // namespace sndblok
