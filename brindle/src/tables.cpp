#include "tables.h"

#include <mutex>
#include <vector>

namespace brindle {
namespace {

bool gConflict = false;  // set when two codes of one table claim the same lookup entry

struct Code {
  std::uint16_t code;
  std::uint8_t length;
  std::int16_t value;
};

// ITU-T H.263 Table 7 / ISO/IEC 14496-2 Table B-6: MCBPC for I pictures.
const Code kMcbpcIntraCodes[] = {
    {0x1, 1, (3 << 2) | 0}, {0x1, 3, (3 << 2) | 1}, {0x2, 3, (3 << 2) | 2},
    {0x3, 3, (3 << 2) | 3}, {0x1, 4, (4 << 2) | 0}, {0x1, 6, (4 << 2) | 1},
    {0x2, 6, (4 << 2) | 2}, {0x3, 6, (4 << 2) | 3}, {0x1, 9, kMcbpcStuffing},
};

// ITU-T H.263 Table 8 / ISO/IEC 14496-2 Table B-7: MCBPC for P pictures, by (mb type, cbpc).
const Code kMcbpcInterCodes[] = {
    {0x1, 1, (0 << 2) | 0},   {0x3, 4, (0 << 2) | 1}, {0x2, 4, (0 << 2) | 2}, {0x5, 6, (0 << 2) | 3},
    {0x3, 3, (1 << 2) | 0},   {0x7, 7, (1 << 2) | 1}, {0x6, 7, (1 << 2) | 2}, {0x5, 9, (1 << 2) | 3},
    {0x2, 3, (2 << 2) | 0},   {0x5, 7, (2 << 2) | 1}, {0x4, 7, (2 << 2) | 2}, {0x5, 8, (2 << 2) | 3},
    {0x3, 5, (3 << 2) | 0},   {0x4, 8, (3 << 2) | 1}, {0x3, 8, (3 << 2) | 2}, {0x3, 7, (3 << 2) | 3},
    {0x4, 6, (4 << 2) | 0},   {0x4, 9, (4 << 2) | 1}, {0x3, 9, (4 << 2) | 2}, {0x2, 9, (4 << 2) | 3},
    {0x1, 9, kMcbpcStuffing},
};

// ITU-T H.263 Table 12 / ISO/IEC 14496-2 Table B-8: CBPY, indexed by the intra pattern.
const std::uint8_t kCbpy[16][2] = {{3, 4}, {5, 5}, {4, 5}, {9, 4},  {3, 5}, {7, 4}, {2, 6}, {11, 4},
                                   {2, 5}, {3, 6}, {5, 4}, {10, 4}, {4, 4}, {8, 4}, {6, 4}, {3, 2}};

// ITU-T H.263 Table 14 / ISO/IEC 14496-2 Table B-12: MVD magnitude codes (sign bit follows).
const std::uint8_t kMvd[33][2] = {{1, 1},   {1, 2},   {1, 3},   {1, 4},   {3, 6},   {5, 7},   {4, 7},
                                  {3, 7},   {11, 9},  {10, 9},  {9, 9},   {17, 10}, {16, 10}, {15, 10},
                                  {14, 10}, {13, 10}, {12, 10}, {11, 10}, {10, 10}, {9, 10},  {8, 10},
                                  {7, 10},  {6, 10},  {5, 10},  {4, 10},  {7, 11},  {6, 11},  {5, 11},
                                  {4, 11},  {3, 11},  {2, 11},  {3, 12},  {2, 12}};

// ISO/IEC 14496-2 Tables B-13 and B-14: dct_dc_size for luma and chroma, by size 0..12.
const std::uint8_t kDcSizeLuma[13][2] = {{3, 3}, {3, 2}, {2, 2}, {2, 3}, {1, 3},  {1, 4}, {1, 5},
                                         {1, 6}, {1, 7}, {1, 8}, {1, 9}, {1, 10}, {1, 11}};
const std::uint8_t kDcSizeChroma[13][2] = {{3, 2}, {2, 2}, {1, 2}, {1, 3},  {1, 4},  {1, 5}, {1, 6},
                                           {1, 7}, {1, 8}, {1, 9}, {1, 10}, {1, 11}, {1, 12}};

struct CoefCode {
  std::uint16_t code;
  std::uint8_t length;
};

// ISO/IEC 14496-2 Table B-17 / ITU-T H.263 Table 16: inter TCOEF (sign bit follows); the last code
// is the escape. Entries 0..57 have last = 0.
const CoefCode kInterCodes[103] = {
    {0x2, 2},   {0xf, 4},   {0x15, 6},  {0x17, 7},  {0x1f, 8},  {0x25, 9},  {0x24, 9},  {0x21, 10},
    {0x20, 10}, {0x7, 11},  {0x6, 11},  {0x20, 11}, {0x6, 3},   {0x14, 6},  {0x1e, 8},  {0xf, 10},
    {0x21, 11}, {0x50, 12}, {0xe, 4},   {0x1d, 8},  {0xe, 10},  {0x51, 12}, {0xd, 5},   {0x23, 9},
    {0xd, 10},  {0xc, 5},   {0x22, 9},  {0x52, 12}, {0xb, 5},   {0xc, 10},  {0x53, 12}, {0x13, 6},
    {0xb, 10},  {0x54, 12}, {0x12, 6},  {0xa, 10},  {0x11, 6},  {0x9, 10},  {0x10, 6},  {0x8, 10},
    {0x16, 7},  {0x55, 12}, {0x15, 7},  {0x14, 7},  {0x1c, 8},  {0x1b, 8},  {0x21, 9},  {0x20, 9},
    {0x1f, 9},  {0x1e, 9},  {0x1d, 9},  {0x1c, 9},  {0x1b, 9},  {0x1a, 9},  {0x22, 11}, {0x23, 11},
    {0x56, 12}, {0x57, 12}, {0x7, 4},   {0x19, 9},  {0x5, 11},  {0xf, 6},   {0x4, 11},  {0xe, 6},
    {0xd, 6},   {0xc, 6},   {0x13, 7},  {0x12, 7},  {0x11, 7},  {0x10, 7},  {0x1a, 8},  {0x19, 8},
    {0x18, 8},  {0x17, 8},  {0x16, 8},  {0x15, 8},  {0x14, 8},  {0x13, 8},  {0x18, 9},  {0x17, 9},
    {0x16, 9},  {0x15, 9},  {0x14, 9},  {0x13, 9},  {0x12, 9},  {0x11, 9},  {0x7, 10},  {0x6, 10},
    {0x5, 10},  {0x4, 10},  {0x24, 11}, {0x25, 11}, {0x26, 11}, {0x27, 11}, {0x58, 12}, {0x59, 12},
    {0x5a, 12}, {0x5b, 12}, {0x5c, 12}, {0x5d, 12}, {0x5e, 12}, {0x5f, 12}, {0x3, 7}};
const std::uint8_t kInterRun[102] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  1,  1,  1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  4,
    4,  4,  5,  5,  5,  6,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
    21, 22, 23, 24, 25, 26, 0,  0,  0,  1,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
    17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40};
const std::uint8_t kInterLevel[102] = {
    1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3,
    1, 2, 1, 2, 1, 2, 1, 2, 1, 1,  1,  1,  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 1, 2, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  1,  1,  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

// ISO/IEC 14496-2 Table B-16: intra TCOEF; entries 0..66 have last = 0.
const CoefCode kIntraCodes[103] = {
    {0x2, 2},   {0x6, 3},   {0xf, 4},   {0xd, 5},   {0xc, 5},   {0x15, 6},  {0x13, 6},  {0x12, 6},
    {0x17, 7},  {0x1f, 8},  {0x1e, 8},  {0x1d, 8},  {0x25, 9},  {0x24, 9},  {0x23, 9},  {0x21, 9},
    {0x21, 10}, {0x20, 10}, {0xf, 10},  {0xe, 10},  {0x7, 11},  {0x6, 11},  {0x20, 11}, {0x21, 11},
    {0x50, 12}, {0x51, 12}, {0x52, 12}, {0xe, 4},   {0x14, 6},  {0x16, 7},  {0x1c, 8},  {0x20, 9},
    {0x1f, 9},  {0xd, 10},  {0x22, 11}, {0x53, 12}, {0x55, 12}, {0xb, 5},   {0x15, 7},  {0x1e, 9},
    {0xc, 10},  {0x56, 12}, {0x11, 6},  {0x1b, 8},  {0x1d, 9},  {0xb, 10},  {0x10, 6},  {0x22, 9},
    {0xa, 10},  {0xd, 6},   {0x1c, 9},  {0x8, 10},  {0x12, 7},  {0x1b, 9},  {0x54, 12}, {0x14, 7},
    {0x1a, 9},  {0x57, 12}, {0x19, 8},  {0x9, 10},  {0x18, 8},  {0x23, 11}, {0x17, 8},  {0x19, 9},
    {0x18, 9},  {0x7, 10},  {0x58, 12}, {0x7, 4},   {0xc, 6},   {0x16, 8},  {0x17, 9},  {0x6, 10},
    {0x5, 11},  {0x4, 11},  {0x59, 12}, {0xf, 6},   {0x16, 9},  {0x5, 10},  {0xe, 6},   {0x4, 10},
    {0x11, 7},  {0x24, 11}, {0x10, 7},  {0x25, 11}, {0x13, 7},  {0x5a, 12}, {0x15, 8},  {0x5b, 12},
    {0x14, 8},  {0x13, 8},  {0x1a, 8},  {0x15, 9},  {0x14, 9},  {0x13, 9},  {0x12, 9},  {0x11, 9},
    {0x26, 11}, {0x27, 11}, {0x5c, 12}, {0x5d, 12}, {0x5e, 12}, {0x5f, 12}, {0x3, 7}};
const std::uint8_t kIntraRun[102] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0, 0, 0,
    0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  2,  2,  2,  2,  2,  3,  3,  3,  3,  4,  4,  4,  5, 5, 5,
    6, 6, 6, 7, 7, 7, 8, 8, 9, 9, 10, 11, 12, 13, 14, 0,  0,  0,  0,  0,  0,  0,  0,  1, 1, 1,
    2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
const std::uint8_t kIntraLevel[102] = {
    1,  2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
    27, 1, 2, 3, 4, 5, 6, 7, 8, 9,  10, 1,  2,  3,  4,  5,  1,  2,  3,  4,  1,  2,  3,  1,  2,  3,
    1,  2, 3, 1, 2, 3, 1, 2, 1, 2,  1,  1,  1,  1,  1,  1,  2,  3,  4,  5,  6,  7,  8,  1,  2,  3,
    1,  2, 1, 2, 1, 2, 1, 2, 1, 2,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1};

// ISO/IEC 14496-2 Table B-23: reversible VLC codes (sign bit follows) for intra and inter blocks;
// the last code is the escape. Entries 0..102 have last = 0.
const CoefCode kRvlcIntraCodes[170] = {
    {0x0006, 3},  {0x0007, 3},  {0x000A, 4},  {0x0009, 5},  {0x0014, 6},  {0x0015, 6},  {0x0034, 7},
    {0x0074, 8},  {0x0075, 8},  {0x00DD, 9},  {0x00EC, 9},  {0x01EC, 10}, {0x01ED, 10}, {0x01F4, 10},
    {0x03EC, 11}, {0x03ED, 11}, {0x03F4, 11}, {0x077D, 12}, {0x07BC, 12}, {0x0FBD, 13}, {0x0FDC, 13},
    {0x07BD, 12}, {0x0FDD, 13}, {0x1FBD, 14}, {0x1FDC, 14}, {0x1FDD, 14}, {0x1FFC, 15}, {0x0001, 4},
    {0x0008, 5},  {0x002D, 7},  {0x006C, 8},  {0x006D, 8},  {0x00DC, 9},  {0x01DD, 10}, {0x03DC, 11},
    {0x03DD, 11}, {0x077C, 12}, {0x0FBC, 13}, {0x1F7D, 14}, {0x1FBC, 14}, {0x0004, 5},  {0x002C, 7},
    {0x00BC, 9},  {0x01DC, 10}, {0x03BC, 11}, {0x03BD, 11}, {0x0EFD, 13}, {0x0F7C, 13}, {0x0F7D, 13},
    {0x1EFD, 14}, {0x1F7C, 14}, {0x0005, 5},  {0x005C, 8},  {0x00BD, 9},  {0x037D, 11}, {0x06FC, 12},
    {0x0EFC, 13}, {0x1DFD, 14}, {0x1EFC, 14}, {0x1FFD, 15}, {0x000C, 6},  {0x005D, 8},  {0x01BD, 10},
    {0x03FD, 12}, {0x06FD, 12}, {0x1BFD, 14}, {0x000D, 6},  {0x007D, 9},  {0x02FC, 11}, {0x05FC, 12},
    {0x1BFC, 14}, {0x1DFC, 14}, {0x001C, 7},  {0x017C, 10}, {0x02FD, 11}, {0x05FD, 12}, {0x2FFC, 15},
    {0x001D, 7},  {0x017D, 10}, {0x037C, 11}, {0x0DFD, 13}, {0x2FFD, 15}, {0x003C, 8},  {0x01BC, 10},
    {0x0BFD, 13}, {0x17FD, 14}, {0x003D, 8},  {0x01FD, 11}, {0x0DFC, 13}, {0x37FC, 15}, {0x007C, 9},
    {0x03FC, 12}, {0x00FC, 10}, {0x0BFC, 13}, {0x00FD, 10}, {0x37FD, 15}, {0x01FC, 11}, {0x07FC, 13},
    {0x07FD, 13}, {0x0FFC, 14}, {0x0FFD, 14}, {0x17FC, 14}, {0x3BFC, 15}, {0x000B, 4},  {0x0078, 8},
    {0x03F5, 11}, {0x0FEC, 13}, {0x1FEC, 14}, {0x0012, 5},  {0x00ED, 9},  {0x07DC, 12}, {0x1FED, 14},
    {0x3BFD, 15}, {0x0013, 5},  {0x03F8, 11}, {0x3DFC, 15}, {0x0018, 6},  {0x07DD, 12}, {0x0019, 6},
    {0x07EC, 12}, {0x0022, 6},  {0x0FED, 13}, {0x0023, 6},  {0x0FF4, 13}, {0x0035, 7},  {0x0FF5, 13},
    {0x0038, 7},  {0x0FF8, 13}, {0x0039, 7},  {0x0FF9, 13}, {0x0042, 7},  {0x1FF4, 14}, {0x0043, 7},
    {0x1FF5, 14}, {0x0079, 8},  {0x1FF8, 14}, {0x0082, 8},  {0x3DFD, 15}, {0x0083, 8},  {0x00F4, 9},
    {0x00F5, 9},  {0x00F8, 9},  {0x00F9, 9},  {0x0102, 9},  {0x0103, 9},  {0x01F5, 10}, {0x01F8, 10},
    {0x01F9, 10}, {0x0202, 10}, {0x0203, 10}, {0x03F9, 11}, {0x0402, 11}, {0x0403, 11}, {0x07ED, 12},
    {0x07F4, 12}, {0x07F5, 12}, {0x07F8, 12}, {0x07F9, 12}, {0x0802, 12}, {0x0803, 12}, {0x1002, 13},
    {0x1003, 13}, {0x1FF9, 14}, {0x2002, 14}, {0x2003, 14}, {0x3EFC, 15}, {0x3EFD, 15}, {0x3F7C, 15},
    {0x3F7D, 15}, {0x0000, 4}};
const std::uint8_t kRvlcIntraRun[169] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
    0,  0,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  2,  2,  2,  2,  2,  2,  2,  2,  2,  2,
    2,  3,  3,  3,  3,  3,  3,  3,  3,  3,  4,  4,  4,  4,  4,  4,  5,  5,  5,  5,  5,  5,  6,  6,  6,
    6,  6,  7,  7,  7,  7,  7,  8,  8,  8,  8,  9,  9,  9,  9,  10, 10, 11, 11, 12, 12, 13, 14, 15, 16,
    17, 18, 19, 0,  0,  0,  0,  0,  1,  1,  1,  1,  1,  2,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,
    7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
    26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44};
const std::uint8_t kRvlcIntraLevel[169] = {
    1, 2, 3, 4, 5, 6, 7, 8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 1, 2,
    3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 1,  2,  3,  4,  5,  6, 7,
    8, 9, 1, 2, 3, 4, 5, 6,  1,  2,  3,  4,  5,  6,  1,  2,  3,  4,  5,  1,  2,  3,  4,  5,  1,  2,  3,  4, 1,
    2, 3, 4, 1, 2, 1, 2, 1,  2,  1,  1,  1,  1,  1,  1,  1,  1,  2,  3,  4,  5,  1,  2,  3,  4,  5,  1,  2, 3,
    1, 2, 1, 2, 1, 2, 1, 2,  1,  2,  1,  2,  1,  2,  1,  2,  1,  2,  1,  2,  1,  2,  1,  1,  1,  1,  1,  1, 1,
    1, 1, 1, 1, 1, 1, 1, 1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1};
const CoefCode kRvlcInterCodes[170] = {
    {0x0006, 3},  {0x0001, 4},  {0x0004, 5},  {0x001C, 7},  {0x003C, 8},  {0x003D, 8},  {0x007C, 9},
    {0x00FC, 10}, {0x00FD, 10}, {0x01FC, 11}, {0x01FD, 11}, {0x03FC, 12}, {0x07FC, 13}, {0x07FD, 13},
    {0x0BFC, 13}, {0x0BFD, 13}, {0x0FFC, 14}, {0x0FFD, 14}, {0x1FFC, 15}, {0x0007, 3},  {0x000C, 6},
    {0x005C, 8},  {0x007D, 9},  {0x017C, 10}, {0x02FC, 11}, {0x03FD, 12}, {0x0DFC, 13}, {0x17FC, 14},
    {0x17FD, 14}, {0x000A, 4},  {0x001D, 7},  {0x00BC, 9},  {0x02FD, 11}, {0x05FC, 12}, {0x1BFC, 14},
    {0x1BFD, 14}, {0x0005, 5},  {0x005D, 8},  {0x017D, 10}, {0x05FD, 12}, {0x0DFD, 13}, {0x1DFC, 14},
    {0x1FFD, 15}, {0x0008, 5},  {0x006C, 8},  {0x037C, 11}, {0x0EFC, 13}, {0x2FFC, 15}, {0x0009, 5},
    {0x00BD, 9},  {0x037D, 11}, {0x0EFD, 13}, {0x000D, 6},  {0x01BC, 10}, {0x06FC, 12}, {0x1DFD, 14},
    {0x0014, 6},  {0x01BD, 10}, {0x06FD, 12}, {0x2FFD, 15}, {0x0015, 6},  {0x01DC, 10}, {0x0F7C, 13},
    {0x002C, 7},  {0x01DD, 10}, {0x1EFC, 14}, {0x002D, 7},  {0x03BC, 11}, {0x0034, 7},  {0x077C, 12},
    {0x006D, 8},  {0x0F7D, 13}, {0x0074, 8},  {0x1EFD, 14}, {0x0075, 8},  {0x1F7C, 14}, {0x00DC, 9},
    {0x1F7D, 14}, {0x00DD, 9},  {0x1FBC, 14}, {0x00EC, 9},  {0x37FC, 15}, {0x01EC, 10}, {0x01ED, 10},
    {0x01F4, 10}, {0x03BD, 11}, {0x03DC, 11}, {0x03DD, 11}, {0x03EC, 11}, {0x03ED, 11}, {0x03F4, 11},
    {0x077D, 12}, {0x07BC, 12}, {0x07BD, 12}, {0x0FBC, 13}, {0x0FBD, 13}, {0x0FDC, 13}, {0x0FDD, 13},
    {0x1FBD, 14}, {0x1FDC, 14}, {0x1FDD, 14}, {0x37FD, 15}, {0x3BFC, 15}, {0x000B, 4},  {0x0078, 8},
    {0x03F5, 11}, {0x0FEC, 13}, {0x1FEC, 14}, {0x0012, 5},  {0x00ED, 9},  {0x07DC, 12}, {0x1FED, 14},
    {0x3BFD, 15}, {0x0013, 5},  {0x03F8, 11}, {0x3DFC, 15}, {0x0018, 6},  {0x07DD, 12}, {0x0019, 6},
    {0x07EC, 12}, {0x0022, 6},  {0x0FED, 13}, {0x0023, 6},  {0x0FF4, 13}, {0x0035, 7},  {0x0FF5, 13},
    {0x0038, 7},  {0x0FF8, 13}, {0x0039, 7},  {0x0FF9, 13}, {0x0042, 7},  {0x1FF4, 14}, {0x0043, 7},
    {0x1FF5, 14}, {0x0079, 8},  {0x1FF8, 14}, {0x0082, 8},  {0x3DFD, 15}, {0x0083, 8},  {0x00F4, 9},
    {0x00F5, 9},  {0x00F8, 9},  {0x00F9, 9},  {0x0102, 9},  {0x0103, 9},  {0x01F5, 10}, {0x01F8, 10},
    {0x01F9, 10}, {0x0202, 10}, {0x0203, 10}, {0x03F9, 11}, {0x0402, 11}, {0x0403, 11}, {0x07ED, 12},
    {0x07F4, 12}, {0x07F5, 12}, {0x07F8, 12}, {0x07F9, 12}, {0x0802, 12}, {0x0803, 12}, {0x1002, 13},
    {0x1003, 13}, {0x1FF9, 14}, {0x2002, 14}, {0x2003, 14}, {0x3EFC, 15}, {0x3EFD, 15}, {0x3F7C, 15},
    {0x3F7D, 15}, {0x0000, 4}};
const std::uint8_t kRvlcInterRun[169] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  1,  1,  1,  1,  1,  1,
    1,  1,  1,  1,  2,  2,  2,  2,  2,  2,  2,  3,  3,  3,  3,  3,  3,  3,  4,  4,  4,  4,  4,  5,  5,
    5,  5,  6,  6,  6,  6,  7,  7,  7,  7,  8,  8,  8,  9,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14,
    14, 15, 15, 16, 16, 17, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35,
    36, 37, 38, 0,  0,  0,  0,  0,  1,  1,  1,  1,  1,  2,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,
    7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
    26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44};
const std::uint8_t kRvlcInterLevel[169] = {
    1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
    1, 2, 3, 4, 5, 6, 7, 1, 2, 3,  4,  5,  6,  7,  1,  2,  3,  4,  5,  1, 2, 3, 4, 1, 2, 3, 4, 1, 2,
    3, 4, 1, 2, 3, 1, 2, 3, 1, 2,  1,  2,  1,  2,  1,  2,  1,  2,  1,  2, 1, 2, 1, 2, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  1,  1,  1,  1,  1,  1,  1,  2,  3,  4, 5, 1, 2, 3, 4, 5, 1, 2, 3,
    1, 2, 1, 2, 1, 2, 1, 2, 1, 2,  1,  2,  1,  2,  1,  2,  1,  2,  1,  2, 1, 2, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1, 1, 1, 1, 1};

std::vector<VlcEntry> BuildVlc(const Code* codes, int count, int bits) {
  std::vector<VlcEntry> table(std::size_t{1} << bits, VlcEntry{0, 0});
  for (int i = 0; i < count; ++i) {
    int shift = bits - codes[i].length;
    std::uint32_t first = static_cast<std::uint32_t>(codes[i].code) << shift;
    for (std::uint32_t j = 0; j < (1u << shift); ++j) {
      gConflict |= table[first + j].length != 0;
      table[first + j] = VlcEntry{codes[i].value, codes[i].length};
    }
  }
  return table;
}

std::vector<VlcEntry> BuildPairs(const std::uint8_t (*pairs)[2], int count, int bits) {
  std::vector<Code> codes;
  for (int i = 0; i < count; ++i)
    codes.push_back(Code{pairs[i][0], pairs[i][1], static_cast<std::int16_t>(i)});
  return BuildVlc(codes.data(), count, bits);
}

std::vector<CoefEntry> BuildCoef(const CoefCode* codes, const std::uint8_t* runs, const std::uint8_t* levels,
                                 int count, int lastStart, int bits, CoefTable& table) {
  std::vector<CoefEntry> entries(std::size_t{1} << bits, CoefEntry{0, 0, 0, 0});
  for (auto& row : table.maxLevel)
    for (auto& v : row) v = 0;
  for (auto& row : table.maxRun)
    for (auto& v : row) v = 0;
  for (int i = 0; i <= count; ++i) {
    CoefEntry e{codes[i].length, 0, 0, 0};
    if (i < count) {
      e.last = i >= lastStart ? 1 : 0;
      e.run = runs[i];
      e.level = levels[i];
      if (e.level > table.maxLevel[e.last][e.run]) table.maxLevel[e.last][e.run] = e.level;
      if (e.run > table.maxRun[e.last][e.level]) table.maxRun[e.last][e.level] = e.run;
    }
    int shift = bits - codes[i].length;
    std::uint32_t first = static_cast<std::uint32_t>(codes[i].code) << shift;
    for (std::uint32_t j = 0; j < (1u << shift); ++j) {
      gConflict |= entries[first + j].length != 0;
      entries[first + j] = e;
    }
  }
  return entries;
}

struct Storage {
  std::vector<VlcEntry> mcbpcIntra, mcbpcInter, cbpy, mvd, dcLuma, dcChroma;
  std::vector<CoefEntry> intra, inter, rvlcIntra, rvlcInter;
  Tables tables;
};

Storage* BuildAll() {
  auto* s = new Storage;
  s->mcbpcIntra = BuildVlc(kMcbpcIntraCodes, 9, 9);
  s->mcbpcInter = BuildVlc(kMcbpcInterCodes, 21, 9);
  s->cbpy = BuildPairs(kCbpy, 16, 6);
  s->mvd = BuildPairs(kMvd, 33, 12);
  s->dcLuma = BuildPairs(kDcSizeLuma, 13, 11);
  s->dcChroma = BuildPairs(kDcSizeChroma, 13, 12);
  Tables& t = s->tables;
  s->intra = BuildCoef(kIntraCodes, kIntraRun, kIntraLevel, 102, 67, 12, t.intraCoef);
  s->inter = BuildCoef(kInterCodes, kInterRun, kInterLevel, 102, 58, 12, t.interCoef);
  s->rvlcIntra = BuildCoef(kRvlcIntraCodes, kRvlcIntraRun, kRvlcIntraLevel, 169, 103, 15, t.rvlcIntra);
  s->rvlcInter = BuildCoef(kRvlcInterCodes, kRvlcInterRun, kRvlcInterLevel, 169, 103, 15, t.rvlcInter);
  t.mcbpcIntra = {s->mcbpcIntra.data(), 9};
  t.mcbpcInter = {s->mcbpcInter.data(), 9};
  t.cbpy = {s->cbpy.data(), 6};
  t.mvd = {s->mvd.data(), 12};
  t.dcSizeLuma = {s->dcLuma.data(), 11};
  t.dcSizeChroma = {s->dcChroma.data(), 12};
  t.intraCoef.entries = s->intra.data();
  t.intraCoef.bits = 12;
  t.interCoef.entries = s->inter.data();
  t.interCoef.bits = 12;
  t.rvlcIntra.entries = s->rvlcIntra.data();
  t.rvlcIntra.bits = 15;
  t.rvlcInter.entries = s->rvlcInter.data();
  t.rvlcInter.bits = 15;
  return s;
}

}  // namespace

const Tables& GetTables() {
  static Storage* storage = BuildAll();  // never freed: shared by every decoder for the process' life
  return storage->tables;
}

bool TablesArePrefixFree() {
  GetTables();
  return !gConflict;
}

// ISO/IEC 14496-2 Figure 7-2 (zigzag) and Figure 7-3 (alternate horizontal and vertical scans).
const std::uint8_t kZigzagScan[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                      12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                      35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                      58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
const std::uint8_t kAlternateHorizontalScan[64] = {
    0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
    32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
    38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63};
const std::uint8_t kAlternateVerticalScan[64] = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

// ISO/IEC 14496-2 Table 7-1: dc_scaler by quantiser.
int LumaDcScaler(int qp) {
  if (qp <= 4) return 8;
  if (qp <= 8) return 2 * qp;
  if (qp <= 24) return qp + 8;
  return 2 * qp - 16;
}

int ChromaDcScaler(int qp) {
  if (qp <= 4) return 8;
  if (qp <= 24) return (qp + 13) / 2;
  return qp - 6;
}

}  // namespace brindle
