// The SPC spectral file layout that the stream file writes: the new
// little-endian form (version byte 0x4B) with Y values as IEEE floats and
// evenly spaced X values given by a first and a last X. A file is the main
// header, then per subfile a subfile header followed by fnpts floats; there is
// no X array and no log block.
//
// The records are written to disk exactly as they lie in memory, so they are
// packed and every offset is pinned below; a host of the other byte order
// would need byte swapping, which no supported target needs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nadixq {

#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "SPC records are written as they lie in memory: little-endian hosts only");
#endif

// ftflgs bits.
constexpr uint8_t kSpcMultifile = 0x04;  // more than one subfile
constexpr uint8_t kSpcOrderedZ = 0x10;   // subfile Z values ordered, not evenly spaced
// fversn of the new little-endian format.
constexpr uint8_t kSpcVersionNew = 0x4B;
// fexp / subexp: the Y values are IEEE single-precision floats.
constexpr uint8_t kSpcFloatY = 0x80;
// Unit codes.
constexpr uint8_t kSpcXArbitrary = 0;      // fxtype: the point index
constexpr uint8_t kSpcYInterferogram = 1;  // fytype

#pragma pack(push, 1)

struct SpcMainHeader {
    uint8_t ftflgs;     // file-type flags
    uint8_t fversn;     // format version
    uint8_t fexper;     // experiment type
    uint8_t fexp;       // Y exponent (0x80: floats)
    uint32_t fnpts;     // points per subfile
    double ffirst;      // X of the first point
    double flast;       // X of the last point
    uint32_t fnsub;     // number of subfiles
    uint8_t fxtype;     // X unit code
    uint8_t fytype;     // Y unit code
    uint8_t fztype;     // Z unit code
    uint8_t fpost;      // posting disposition
    uint32_t fdate;     // packed local date and time (PackSpcDate)
    char fres[9];       // resolution text
    char fsource[9];    // instrument text
    uint16_t fpeakpt;   // peak point of an interferogram
    float fspare[8];    // spare
    char fcmnt[130];    // comment text, NUL-terminated
    char fcatxt[30];    // custom axis labels
    uint32_t flogoff;   // offset of a log block, 0: none
    uint32_t fmods;     // modification flags
    uint8_t fprocs;     // processing code
    uint8_t flevel;     // calibration level
    uint16_t fsampin;   // sample injection number
    float ffactor;      // data multiplier
    char fmethod[48];   // method file name
    float fzinc;        // Z increment
    uint32_t fwplanes;  // number of W planes
    float fwinc;        // W increment
    uint8_t fwtype;     // W unit code
    char freserv[187];  // reserved
};

struct SpcSubfileHeader {
    uint8_t subflgs;   // subfile flags
    uint8_t subexp;    // Y exponent of the subfile (0x80: floats)
    uint16_t subindx;  // subfile index
    float subtime;     // Z value (time) of the subfile
    float subnext;     // Z value of the next subfile
    float subnois;     // noise value
    uint32_t subnpts;  // points, for files with an X array per subfile
    uint32_t subscan;  // number of co-added scans
    float subwlevel;   // W value
    char subresv[4];   // reserved
};

#pragma pack(pop)

static_assert(sizeof(SpcMainHeader) == 512, "SPC main header is 512 bytes");
static_assert(offsetof(SpcMainHeader, ftflgs) == 0, "ftflgs");
static_assert(offsetof(SpcMainHeader, fversn) == 1, "fversn");
static_assert(offsetof(SpcMainHeader, fexper) == 2, "fexper");
static_assert(offsetof(SpcMainHeader, fexp) == 3, "fexp");
static_assert(offsetof(SpcMainHeader, fnpts) == 4, "fnpts");
static_assert(offsetof(SpcMainHeader, ffirst) == 8, "ffirst");
static_assert(offsetof(SpcMainHeader, flast) == 16, "flast");
static_assert(offsetof(SpcMainHeader, fnsub) == 24, "fnsub");
static_assert(offsetof(SpcMainHeader, fxtype) == 28, "fxtype");
static_assert(offsetof(SpcMainHeader, fytype) == 29, "fytype");
static_assert(offsetof(SpcMainHeader, fztype) == 30, "fztype");
static_assert(offsetof(SpcMainHeader, fpost) == 31, "fpost");
static_assert(offsetof(SpcMainHeader, fdate) == 32, "fdate");
static_assert(offsetof(SpcMainHeader, fres) == 36, "fres");
static_assert(offsetof(SpcMainHeader, fsource) == 45, "fsource");
static_assert(offsetof(SpcMainHeader, fpeakpt) == 54, "fpeakpt");
static_assert(offsetof(SpcMainHeader, fspare) == 56, "fspare");
static_assert(offsetof(SpcMainHeader, fcmnt) == 88, "fcmnt");
static_assert(offsetof(SpcMainHeader, fcatxt) == 218, "fcatxt");
static_assert(offsetof(SpcMainHeader, flogoff) == 248, "flogoff");
static_assert(offsetof(SpcMainHeader, fmods) == 252, "fmods");
static_assert(offsetof(SpcMainHeader, fprocs) == 256, "fprocs");
static_assert(offsetof(SpcMainHeader, flevel) == 257, "flevel");
static_assert(offsetof(SpcMainHeader, fsampin) == 258, "fsampin");
static_assert(offsetof(SpcMainHeader, ffactor) == 260, "ffactor");
static_assert(offsetof(SpcMainHeader, fmethod) == 264, "fmethod");
static_assert(offsetof(SpcMainHeader, fzinc) == 312, "fzinc");
static_assert(offsetof(SpcMainHeader, fwplanes) == 316, "fwplanes");
static_assert(offsetof(SpcMainHeader, fwinc) == 320, "fwinc");
static_assert(offsetof(SpcMainHeader, fwtype) == 324, "fwtype");
static_assert(offsetof(SpcMainHeader, freserv) == 325, "freserv");

static_assert(sizeof(SpcSubfileHeader) == 32, "SPC subfile header is 32 bytes");
static_assert(offsetof(SpcSubfileHeader, subflgs) == 0, "subflgs");
static_assert(offsetof(SpcSubfileHeader, subexp) == 1, "subexp");
static_assert(offsetof(SpcSubfileHeader, subindx) == 2, "subindx");
static_assert(offsetof(SpcSubfileHeader, subtime) == 4, "subtime");
static_assert(offsetof(SpcSubfileHeader, subnext) == 8, "subnext");
static_assert(offsetof(SpcSubfileHeader, subnois) == 12, "subnois");
static_assert(offsetof(SpcSubfileHeader, subnpts) == 16, "subnpts");
static_assert(offsetof(SpcSubfileHeader, subscan) == 20, "subscan");
static_assert(offsetof(SpcSubfileHeader, subwlevel) == 24, "subwlevel");
static_assert(offsetof(SpcSubfileHeader, subresv) == 28, "subresv");

// Where fnsub lies: the one field rewritten after the header was written.
constexpr long kSpcSubfileCountOffset = offsetof(SpcMainHeader, fnsub);

}  // namespace nadixq
