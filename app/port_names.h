// 串口号 shows, beside the COM number, the device it stands for; plugging or
// unplugging an adapter updates it and lists the adapters in the log.
#pragma once

void StartPortNames(void);
void StopPortNames(void);
