// The COM number's own text control names the device it stands for, and the
// adapter list offers the mapped devices; plugging or unplugging one updates both.
#pragma once

void StartPortNames(void);
void StopPortNames(void);
