// Wire encoding of command arguments and reply fields.
//
// Every number on the wire is big-endian. Angles use 360/2^32 degree per count
// (one turn = 2^32 counts); speeds, accelerations and line counts use 16.16
// fixed point. Byte strings are std::string used as byte containers: they may
// hold zero bytes.
//
// Out-of-range values never reach an undefined float-to-integer conversion:
//  - PackSpeed, PackAcceleration, PackNLines saturate to the nearest 32-bit
//    value (7F FF FF FF or 80 00 00 00); NaN packs to 00 00 00 00.
//  - PackAngle saturates the scaled count to the 64-bit range before keeping its
//    low 32 bits (only angles beyond about 7.7e11 degrees); NaN packs to zero.
#pragma once

#include <string>

namespace tavrel {

std::string PackArg32(int v);
std::string PackArg16(short v);
std::string PackArg8(signed char v);
std::string PackAngle(double degrees);
std::string PackSpeed(double v);
std::string PackAcceleration(double v);
std::string PackNLines(double v);

// Consuming readers: read from the front of the string and erase what was read.
// Bytes missing at the end of a short string read as zero.
unsigned int UnpackInt32(std::string& s);
int UnpackSignedInt32(std::string& s);
unsigned short UnpackInt16(std::string& s);
short UnpackSignedInt16(std::string& s);
unsigned char UnpackInt8(std::string& s);

// Iterator readers: read at the iterator and advance it past the field. No
// bounds checking; the caller guarantees that the bytes are there.
unsigned int EfficientUnpackInt32(std::string::iterator& it);
int EfficientUnpackSignedInt32(std::string::iterator& it);
short EfficientUnpackInt16(std::string::iterator& it);
unsigned char EfficientUnpackInt8(std::string::iterator& it);
double UnpackAngle(std::string::iterator& it);
double UnpackSpeed(std::string::iterator& it);
double UnpackAcceleration(std::string::iterator& it);

// The same readers over raw bytes, for packet decoding.
unsigned int EfficientUnpackInt32(const unsigned char*& p);
int EfficientUnpackSignedInt32(const unsigned char*& p);
short EfficientUnpackInt16(const unsigned char*& p);
unsigned char EfficientUnpackInt8(const unsigned char*& p);
double UnpackAngle(const unsigned char*& p);
double UnpackSpeed(const unsigned char*& p);
double UnpackAcceleration(const unsigned char*& p);

// Word-level conversions shared by the readers above.
double AngleFromWord(unsigned int word);
double SpeedFromWord(unsigned int word);
double AccelerationFromWord(unsigned int word);

} // namespace tavrel
