// Loading a program (Intel HEX or raw) into the image.
#pragma once

int loadFile(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int saveFile(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);

// Builds the image of the open HEX file in image (IMAGE_SIZE bytes): every
// data byte at its address, from the lowest one (aligned down to 4) to the
// highest, gaps erased; sets *byteCount to its length and imageBaseAddress to
// its start. 1 when the file loads; 0 on an error or refusal, reported to the
// operator with its line, with the file closed and *fileHandle -1.
int hex2bin(int* fileHandle, unsigned char* image, int* byteCount);
