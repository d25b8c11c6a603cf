// Loading a program (Intel HEX or raw) into the image.
#pragma once

int loadFile(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int saveFile(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);

// Appends the data bytes of every data record of the open HEX file to image
// (IMAGE_SIZE bytes) and adds their count to *byteCount. 1 when the file ends
// normally; 0 on an error, reported to the operator, with the file closed and
// *fileHandle -1.
int hex2bin(int* fileHandle, unsigned char* image, int* byteCount);
