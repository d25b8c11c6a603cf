// The receive callback of the session port: echoes every run to the terminal
// and, in hexadecimal mode, feeds whole bootloader replies to the handler of
// the command being answered.
#pragma once

int TideCommReceiveCallback(int port);

// Forgets a partly received reply; every operation that sends a new command
// calls it, so a reply cut short never joins the next one.
void ResetReplyAssembly(void);
