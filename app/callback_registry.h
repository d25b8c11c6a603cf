// Makes every callback name the panel file binds known to the engine.
#pragma once

void RegisterChipLoadCallbacks(void);
