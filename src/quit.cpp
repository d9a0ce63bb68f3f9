// Placeholder until this module is written.
#include "morvane.h"
Interrupt interrupt_kind = Interrupt::Startup;
bool quit_dialog_open = false;
int key_input_fd = 0;
void install_signal_handlers() {}
void install_interrupt(Interrupt k) { interrupt_kind = k; }
SavedInterrupt ignore_interrupt() { SavedInterrupt s{}; s.kind = interrupt_kind; return s; }
void restore_interrupt(const SavedInterrupt&) {}
int read_key() { return wgetch(stdscr); }
void poll_signals() {}
void quit_program() { endwin(); exit(0); }
void quit_dialog() {}
void browser_interrupt() { endwin(); exit(0); }
void handle_resize() {}
