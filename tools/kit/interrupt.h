// interrupt.h - Ctrl-C (and SIGTERM) as a request to stop, not an abort.
#ifndef LORVEXKIT_INTERRUPT_H
#define LORVEXKIT_INTERRUPT_H

namespace interrupt {

// Installs the handlers. The first signal only sets the flag; a second one
// ends the process the ordinary way.
void install();
bool requested();

} // namespace interrupt

#endif
