// Interrupts: the requests from outside to end the run now. SIGINT, SIGTERM and SIGHUP on POSIX;
// Ctrl+C, Ctrl+Break and closing the console window on Windows.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/Interruption.cpp and Platform/Win32/Interruption.cpp, with the
// holds, which are the same on both, in Platform/Interruption.cpp.
// No OS type appears in it.
//
// Once HandleInterrupts has been called, an interrupt is taken on a thread of its own, never
// inside the code it interrupts: POSIX blocks the signals in every thread and takes them with
// sigwait on that thread, and Windows calls its console control handler on a new thread anyway.
// The interrupt then
//   0. ends every program the run started that still runs (RunWindowsProgram), with every
//      process that program started, and any the run starts from then on,
//   1. waits until no InterruptHold is held on any thread,
//   2. removes the named temporary file of every OutputFile not yet committed (an unnamed one
//      goes with the process),
//   3. calls the `finishOutput` function given to HandleInterrupts (the console writes what it
//      holds back and ends its line), and
//   4. ends the process without running any destructor, with the status a shell reports for a
//      process that the signal killed, 128 + its number (130 for SIGINT, 143 for SIGTERM, 129
//      for SIGHUP), and on Windows with STATUS_CONTROL_C_EXIT (0xC000013A) for all three events,
//      the status the system's own handler gives a console program that Ctrl+C ends.
// A second interrupt that arrives while the first waits for a hold (a console write blocked on a
// full pipe that nobody reads) ends the process at once, with the status of the first and without
// steps 2 and 3.
#pragma once

namespace quillet::platform {

// Starts taking interrupts as described above. Call once, first thing in the program, before any
// other thread starts: the threads started later inherit the blocked signals on POSIX, so that no
// worker is ever stopped in the middle of a system call. An interrupt that the process inherited
// as ignored (nohup, a background job) stays ignored. False when the handling cannot be set up;
// interrupts then end the process as the system does by default.
bool HandleInterrupts(void (*finishOutput)());

// While one lives, on any thread, an interrupt waits before it removes files or writes anything:
// what is done under a hold is done completely or not at all when the run is interrupted. Holds
// nest and may be taken by the interrupt's own finishOutput. Keep them short; never wait for
// input under one. Once an interrupt has been taken, a thread that begins a new outermost hold
// stops there until the process ends, so no new step starts while the run is being ended.
class InterruptHold {
public:
  InterruptHold();
  ~InterruptHold();
  InterruptHold(const InterruptHold&) = delete;
  InterruptHold& operator=(const InterruptHold&) = delete;
};

// Gives up interrupt handling for good: from here on an interrupt waits for ever, and the run
// ends as it would anyway. The program calls it once its output is complete, so that an interrupt
// never meets objects that are being destroyed at exit.
void EndInterruptHandling();

} // namespace quillet::platform
