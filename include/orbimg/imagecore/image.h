// The image core: the sample store (CVmImage), its manager (CVmManager),
// thread indices (CParallel), the shooting-data header (CHeader), read
// parameters (CReadParam) and the image record (CImage).
//
// Conventions
//   - Samples are held in memory, plane after plane, each plane row after
//     row; a row's samples are contiguous. Large stores are mapped in whole
//     pages and ask for huge pages, so a new frame costs few page faults. |bits per pixel| / 8 bytes per
//     sample (8, 16, 24, 32, -32 and -64 all allocate); new samples are zero.
//   - GetImageAdr returns null for any x, y or plane outside the image, so
//     nothing can address outside the samples through it. An address stays
//     valid until the image is re-dimensioned or destroyed.
//   - The record's geometry always matches the store: SetWidth, SetHeight,
//     SetPlanes and SetBitsPixel re-dimension the samples (zeroed) when they
//     change the geometry or the sample size.
//   - Planes: 0 .. kMaxPlanes; a larger count is clamped. Level arrays hold
//     kMaxPlanes entries; a plane index outside them reads 0.0 and is never
//     written.
//   - Allocation failures throw CMemoryException (constructors and the
//     record setters) or return 0 (ChangeSize); the image is then unchanged.
//   - Concurrent reads (GetImageAdr, GetPixel, GetMinMax) from any number of
//     threads are safe; changing an image is for one thread at a time.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/afx.h"
#include "platform/export.h"
#include "platform/wintypes.h"

/// The manager of the sample stores.
class ORBIMG_API CVmManager {
public:
    /// Bytes swapped out of the stores: 0 unless a test sets it. Non-zero
    /// sends the library's parallel loops down their serial paths.
    static long long GetCurrentSwapSize();
    /// Simulates a partly swapped-out store (tests).
    static void SetCurrentSwapSize(long long bytes);
    /// The manager every store belongs to.
    static CVmManager* GetDefault();
    int GetBlockSize() const { return m_blockSize; }

private:
    int m_blockSize = 1 << 20;
};

/// The sample store of one image.
class ORBIMG_API CVmImage {
public:
    CVmImage();
    /// A zeroed store; throws CMemoryException when it cannot be allocated.
    CVmImage(int width, int height, int planes, int bytesPerSample);
    CVmImage(const CVmImage& other, HWND = nullptr, const wchar_t* = nullptr);
    CVmImage& operator=(const CVmImage& other);
    ~CVmImage();

    /// Address of sample (x, y) of the plane, the rest of the row following
    /// contiguously; null outside the store. With `lock` non-zero one lock is
    /// counted and, when `handle` is not null, *handle receives the handle for
    /// Unlock. Safe from any number of threads at once.
    unsigned char* GetImageAdr(int x, int y, int plane, int readOnly, int lock, void** handle) const;
    /// Releases one lock; returns 0 (and changes nothing) for a null handle or
    /// when no lock is held.
    int Unlock(void* handle);
    /// Releases every lock, also those taken without a handle.
    void UnlockAll();
    /// Locks held now (diagnostic).
    int GetLockCount() const { return m_locks.load(std::memory_order_relaxed); }
    CVmManager* GetVmManager() const { return CVmManager::GetDefault(); }

    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetPlanes() const { return m_planes; }
    int GetBytesPerSample() const { return m_bytes; }
    /// Replaces the store by a zeroed one of the new geometry; returns false
    /// (store unchanged) when it cannot be allocated.
    bool Reshape(int width, int height, int planes, int bytesPerSample);

private:
    struct Samples;  ///< the samples and how they are released (the library's own allocator)

    std::unique_ptr<Samples> m_samples;  ///< null without samples
    int m_width = 0;
    int m_height = 0;
    int m_planes = 0;
    int m_bytes = 4;
    mutable std::atomic<int> m_locks{0};
};

/// Thread indices for per-thread buffers.
class ORBIMG_API CParallel {
public:
    /// Count of per-thread buffers a user needs: every thread index is below it.
    static int GetMaxThreads();
    /// Index of the calling thread: below GetMaxThreads(), held by no other
    /// living thread, given back when the thread ends. Throws
    /// std::runtime_error when more threads than GetMaxThreads() are alive.
    static int GetThreadNum();
    CParallel& operator=(const CParallel&) { return *this; }
};

/// Shooting data of an image.
class ORBIMG_API CHeader {
public:
    unsigned long GetISO() const { return m_iso; }
    void SetISO(unsigned long iso) { m_iso = iso; }
    CString GetCustomISO() const { return m_customIso; }
    void SetCustomISO(const CString& iso) { m_customIso = iso; }
    const wchar_t* GetLightSource() const { return m_lightSource; }
    void SetLightSource(CString source) { m_lightSource = source; }
    const wchar_t* GetCameraMaker() const { return m_cameraMaker; }
    void SetCameraMaker(const wchar_t* maker) { m_cameraMaker = maker; }
    const wchar_t* GetCameraModel() const { return m_cameraModel; }
    void SetCameraModel(const wchar_t* model) { m_cameraModel = model; }
    int IsWBShootingGain() const { return m_wbShootingGain; }
    void SetWBShootingGain(int on) { m_wbShootingGain = on; }
    double GetWBShootingGainBayer(int i) const { return m_wbBayer[i]; }
    void GetWBShootingGainBayer(double* out) const
    {
        for (int i = 0; i < 4; ++i) {
            out[i] = m_wbBayer[i];
        }
    }
    void SetWBShootingGainBayer(int i, double gain) { m_wbBayer[i] = gain; }
    void SetWBShootingGainBayer(double* in)
    {
        for (int i = 0; i < 4; ++i) {
            m_wbBayer[i] = in[i];
        }
    }
    double GetWBShootingGainHoneyComb(int i) const { return m_wbHoneyComb[i]; }
    void GetWBShootingGainHoneyComb(double* out) const
    {
        for (int i = 0; i < 8; ++i) {
            out[i] = m_wbHoneyComb[i];
        }
    }
    void SetWBShootingGainHoneyComb(int i, double gain) { m_wbHoneyComb[i] = gain; }
    void SetWBShootingGainHoneyComb(double* in)
    {
        for (int i = 0; i < 8; ++i) {
            m_wbHoneyComb[i] = in[i];
        }
    }
    int GetCFA() const { return m_cfa; }
    void SetCFA(int cfa) { m_cfa = cfa; }

private:
    unsigned long m_iso = 0;
    CString m_customIso;
    CString m_lightSource;
    CString m_cameraMaker;
    CString m_cameraModel;
    int m_wbShootingGain = 0;
    double m_wbBayer[4] = {0, 0, 0, 0};
    double m_wbHoneyComb[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int m_cfa = 0;
};

/// Parameters a file reader was given.
class ORBIMG_API CReadParam {
public:
    int GetFileType() const { return m_fileType; }
    void SetFileType(int type) { m_fileType = type; }
    int GetCullRatio() const { return m_cullRatio; }
    void SetCullRatio(int ratio) { m_cullRatio = ratio; }
    double GetCullStdWidth() const { return m_cullStdWidth; }
    void SetCullStdWidth(double width) { m_cullStdWidth = width; }

private:
    int m_fileType = 0;
    int m_cullRatio = 0;
    double m_cullStdWidth = 0.0;
};

/// The image record and its samples.
class ORBIMG_API CImage : public CObject {
public:
    static constexpr int kMaxPlanes = 16;

    /// No samples: 0 x 0, one plane, bits per pixel -32.
    CImage();
    /// width x height x planes samples of |bitsPixel| / 8 bytes, zeroed;
    /// levels 0 .. 255 on every plane; an own empty header; no cull grid.
    /// Negative sizes count as 0. Throws CMemoryException when the samples
    /// cannot be allocated.
    CImage(int width, int height, int planes, int bitsPixel, double bscale, double bzero, int isSigned,
           HWND wnd = nullptr, const wchar_t* text = nullptr);
    /// An equal record (header and cull grid included) and equal samples.
    CImage(const CImage& other, HWND wnd = nullptr, const wchar_t* text = nullptr);
    CImage& operator=(const CImage& other);
    ~CImage() override;

    // ---- record ----
    int GetBitsPixel() const { return m_bitsPixel; }
    void SetBitsPixel(int bits);
    int IsSigned() const { return m_signed; }
    void SetSigned(int isSigned) { m_signed = isSigned; }
    int GetDimension() const { return m_dimension; }
    int GetWidth() const { return m_width; }
    void SetWidth(int width);
    int GetHeight() const { return m_height; }
    void SetHeight(int height);
    int GetPlanes() const { return m_planes; }
    /// planes = n (dimension 3 when n > 1, else 2); re-dimensions the samples.
    void SetPlanes(int planes);
    double GetBscale() const { return m_bscale; }
    void SetBscale(double bscale) { m_bscale = bscale; }
    double GetBzero() const { return m_bzero; }
    void SetBzero(double bzero) { m_bzero = bzero; }

    double GetLevelMin(int plane) const { return ValidLevelPlane(plane) ? m_levelMin[plane] : 0.0; }
    double GetLevelMax(int plane) const { return ValidLevelPlane(plane) ? m_levelMax[plane] : 0.0; }
    double GetLevelRange(int plane) const { return ValidLevelPlane(plane) ? m_levelRange[plane] : 0.0; }
    /// Display window of one plane: min, max and range = max - min. A plane
    /// outside the level arrays is ignored.
    void SetLevel(int plane, double min, double max);

    int HasOwnLevel() const { return m_ownLevel; }
    void SetOwnLevel(int own) { m_ownLevel = own; }
    int IsSaveableFormat() const { return m_saveableFormat; }
    void SetSaveableFormat(int on) { m_saveableFormat = on; }
    int IsSaveableFile() const { return m_saveableFile; }
    void SetSaveableFile(int on) { m_saveableFile = on; }
    const wchar_t* GetOrgFileName() const { return m_orgFileName; }
    void SetOrgFileName(const wchar_t* name) { m_orgFileName = name; }
    const wchar_t* GetOrgFileFormat() const { return m_orgFileFormat; }
    void SetOrgFileFormat(const wchar_t* format) { m_orgFileFormat = format; }
    int GetOrgBitsPixel() const { return m_orgBitsPixel; }
    void SetOrgBitsPixel(int bits) { m_orgBitsPixel = bits; }
    int GetOrgPlanes() const { return m_orgPlanes; }
    void SetOrgPlanes(int planes) { m_orgPlanes = planes; }
    int GetOrgWidth() const { return m_orgWidth; }
    void SetOrgWidth(int width) { m_orgWidth = width; }
    int GetOrgHeight() const { return m_orgHeight; }
    void SetOrgHeight(int height) { m_orgHeight = height; }
    int IsOrgBayerImage() const { return m_orgBayer; }
    void SetOrgBayerImage(int on) { m_orgBayer = on; }
    int IsOrgHoneyCombImage() const { return m_orgHoneyComb; }
    void SetOrgHoneyCombImage(int on) { m_orgHoneyComb = on; }
    int IsOrgDevelopmentImage() const { return m_orgDevelopment; }
    void SetOrgDevelopmentImage(int on) { m_orgDevelopment = on; }
    int IsBayerImage() const { return m_bayer; }
    void SetBayerImage(int on) { m_bayer = on; }
    int IsHoneyCombImage() const { return m_honeyComb; }
    void SetHoneyCombImage(int on) { m_honeyComb = on; }
    int IsDevelopmentImage() const { return m_development; }
    void SetDevelopmentImage(int on) { m_development = on; }
    int GetRawImageBits() const { return m_rawImageBits; }
    void SetRawImageBits(int bits) { m_rawImageBits = bits; }

    CHeader* GetHeader() { return m_header.get(); }
    const CHeader* GetHeader() const { return m_header.get(); }

    // ---- histogram cull grid ----
    /// Installs the sampling grid (the lists are copied); null lists or a
    /// count below 1 remove it.
    void SetHistogramCull(const int* columns, int columnCount, const int* rows, int rowCount);
    /// Non-zero when the grid is present; *columns and *rows receive its size.
    int GetHistogramCull(int* columns, int* rows) const;
    int* GetHistogramCullXPtr() { return m_cullX.empty() ? nullptr : m_cullX.data(); }
    int* GetHistogramCullYPtr() { return m_cullY.empty() ? nullptr : m_cullY.data(); }
    const int* GetHistogramCullXPtr() const { return m_cullX.empty() ? nullptr : m_cullX.data(); }
    const int* GetHistogramCullYPtr() const { return m_cullY.empty() ? nullptr : m_cullY.data(); }
    int IsHistogramCullParam() const { return !m_cullX.empty() && !m_cullY.empty(); }

    // ---- derived ----
    int IsColor() const { return m_dimension > 2; }
    int GetBytesPixel() const { return (m_bitsPixel < 0 ? -m_bitsPixel : m_bitsPixel) / 8; }
    unsigned int GetImageSize() const
    {
        return static_cast<unsigned int>(GetBytesPixel()) * static_cast<unsigned int>(m_width) *
               static_cast<unsigned int>(m_height) * static_cast<unsigned int>(m_planes);
    }
    int GetPixelCount() const { return m_width * m_height * m_planes; }
    unsigned char* GetNextAdr(void* p) const { return static_cast<unsigned char*>(p) + GetBytesPixel(); }
    unsigned char* GetPrevAdr(void* p) const { return static_cast<unsigned char*>(p) - GetBytesPixel(); }
    int IsCcd() const { return m_header->GetCameraModel()[0] == L'\0'; }

    // ---- samples ----
    /// Address of a sample; mode bit 0 read-only, bit 1 lock. Null outside.
    unsigned char* GetImageAdr(int x, int y, int plane, unsigned int mode, void** handle) const
    {
        return m_store->GetImageAdr(x, y, plane, static_cast<int>(mode & 1u), static_cast<int>((mode >> 1) & 1u),
                                    handle);
    }
    int Unlock(void* handle) { return m_store->Unlock(handle); }
    void UnlockAll() { m_store->UnlockAll(); }
    CVmImage* GetVmImage() const { return m_store.get(); }
    CVmManager* GetVmManager() const { return m_store->GetVmManager(); }

    /// Physical value of the sample at p: the stored value decoded by bits per
    /// pixel, times bscale plus bzero; 0.0 for an unknown format (bscale and
    /// bzero not applied).
    double GetPixel(unsigned char* p) const;
    /// The same for sample (x, y) of the plane; 0.0 outside the image.
    double GetPixel(int x, int y, int plane) const;
    /// Extremes of the stored values of a plane (bscale and bzero not
    /// applied), NaN samples skipped. Returns 1; 0 with both 0.0 when the plane
    /// has no sample that is not NaN (or does not exist).
    int GetMinMax(int plane, double* min, double* max) const;

    /// Re-dimensions to width x height, keeping planes, format and levels, with
    /// zeroed samples. Returns 0 and changes nothing when width or height is
    /// below 1 or the samples cannot be allocated.
    int ChangeSize(int width, int height, HWND wnd = nullptr, const wchar_t* text = nullptr);

protected:
    /// Takes `other`'s record (everything assignment copies but the samples:
    /// format, planes, levels, flags, header, cull grid) with zeroed samples
    /// of width x height instead of a copy of its samples. With `overwrite`
    /// (the caller writes every sample next) a store this image already
    /// holds of exactly that size, planes and sample size is kept as it is,
    /// unzeroed, instead of allocating a new one. Returns 0 and changes
    /// nothing when width or height is below 1, `other` is this image, or the
    /// samples cannot be allocated.
    int TakeRecord(const CImage& other, int width, int height, bool overwrite = false);

private:
    static bool ValidLevelPlane(int plane) { return plane >= 0 && plane < kMaxPlanes; }
    /// The record of `other` with `store` as the samples.
    void AssignRecord(const CImage& other, std::unique_ptr<CVmImage> store);
    /// Makes the store match the record; throws CMemoryException on failure.
    void ReshapeStore(int width, int height, int planes, int bitsPixel);
    double DecodeStored(const unsigned char* p) const;

    int m_bitsPixel = -32;
    int m_signed = 0;
    int m_dimension = 2;
    int m_width = 0;
    int m_height = 0;
    int m_planes = 1;
    double m_bscale = 1.0;
    double m_bzero = 0.0;
    std::unique_ptr<CVmImage> m_store;
    std::array<double, kMaxPlanes> m_levelMin{};
    std::array<double, kMaxPlanes> m_levelMax{};
    std::array<double, kMaxPlanes> m_levelRange{};
    int m_ownLevel = 0;
    int m_saveableFormat = 0;
    int m_saveableFile = 0;
    CString m_orgFileName;
    CString m_orgFileFormat;
    int m_orgBitsPixel = 0;
    int m_orgPlanes = 0;
    int m_orgBayer = 0;
    int m_orgHoneyComb = 0;
    int m_orgDevelopment = 0;
    int m_orgWidth = 0;
    int m_orgHeight = 0;
    int m_bayer = 0;
    int m_honeyComb = 0;
    int m_rawImageBits = 0;
    int m_development = 0;
    std::unique_ptr<CHeader> m_header;
    std::vector<int> m_cullX;
    std::vector<int> m_cullY;
};
