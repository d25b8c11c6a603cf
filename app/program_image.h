// The program image that the loaders fill and the write operation sends.
#pragma once

enum { IMAGE_SIZE = 131072 };

extern unsigned char* f_temp;  // IMAGE_SIZE bytes once a program has been loaded
extern int binLength;
extern int HEXFileHandle;

// Frees the image; binLength and the write count keep their values.
void ReleaseProgramImage(void);
