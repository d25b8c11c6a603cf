// The program image that the loaders fill and the write operation sends.
#pragma once

enum { IMAGE_SIZE = 131072 };

// imageBufferBytes once a file has been loaded; null before.
extern unsigned char* f_temp;
// Size of f_temp: IMAGE_SIZE, or the identified part's flash when larger.
extern long imageBufferBytes;
extern int binLength;
// Flash address of f_temp[0], where programming starts: the lowest address a
// HEX file gives data for, the flash base for a raw binary.
extern int imageBaseAddress;
extern int HEXFileHandle;

// Frees the image; binLength and the write count keep their values.
void ReleaseProgramImage(void);
// No image, no length, no open file: the state of a fresh start.
void ResetProgramImage(void);
// Before programming again: true when the image still matches the file it
// was loaded from, or was loaded afresh because the file changed on disk
// (which the log says); false, and the operator told, when that load failed.
bool ProgramImageCurrent(void);
// Before programming the identified part: the image starts on a whole write
// unit (erased bytes in front) and what the file left out holds the part's
// erased value. False, and the operator told, when the bytes in front would
// fall outside the flash.
bool FitProgramImageToTarget(void);
