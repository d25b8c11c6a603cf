// Read and write protection in the window: found at connect or before
// programming, lifted only behind a confirmation that names what it costs.
// The chip resets itself after an unprotect; the session then synchronises
// and identifies it again by itself.
#pragma once

// Buttons of the operations page.
int read_unprotect(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int write_unprotect(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);

// The identification read was refused right after Get ID answered: the chip
// is read-protected. Says so and offers to lift it.
void ReadProtectionFound(void);
// The identification has ended; after an unprotect it reports the new state.
void IdentificationFinished(void);

// A finding (already logged and shown in the status) that write protection
// kept a programming run from succeeding: shown with the offer to lift it.
void OfferWriteUnprotect(const char* finding);
