// The APO SDK declarations that locking an effect for processing needs: the media type
// interface, the connection descriptor, the uncompressed format record and the APOERR
// codes. MinGW ships no APO headers, so these are ours on both targets, laid out as the
// Windows SDK lays them out (slot order, field order, x64 sizes).
#pragma once

#include <cstddef>

#include "platform/com/apo_types.h"
#include "platform/com/com_types.h"

#if !VORLUND_WINDOWS
struct tWAVEFORMATEX;
using WAVEFORMATEX = tWAVEFORMATEX;
#endif

constexpr HRESULT APOERR_ALREADY_INITIALIZED = static_cast<HRESULT>(0x887D0001u);
constexpr HRESULT APOERR_NOT_INITIALIZED = static_cast<HRESULT>(0x887D0002u);
constexpr HRESULT APOERR_FORMAT_NOT_SUPPORTED = static_cast<HRESULT>(0x887D0003u);
constexpr HRESULT APOERR_INVALID_APO_CLSID = static_cast<HRESULT>(0x887D0004u);
constexpr HRESULT APOERR_BUFFERS_OVERLAP = static_cast<HRESULT>(0x887D0005u);
constexpr HRESULT APOERR_ALREADY_UNLOCKED = static_cast<HRESULT>(0x887D0006u);
constexpr HRESULT APOERR_NUM_CONNECTIONS_INVALID = static_cast<HRESULT>(0x887D0007u);
constexpr HRESULT APOERR_INVALID_OUTPUT_MAXFRAMECOUNT = static_cast<HRESULT>(0x887D0008u);
constexpr HRESULT APOERR_INVALID_CONNECTION_FORMAT = static_cast<HRESULT>(0x887D0009u);
constexpr HRESULT APOERR_APO_LOCKED = static_cast<HRESULT>(0x887D000Au);

// {00000003-0000-0010-8000-00AA00389B71}. mmreg.h and ksmedia.h name it with a macro; this
// definition stands in when neither has been included.
#ifndef KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
#endif

struct UNCOMPRESSEDAUDIOFORMAT {
  GUID guidFormatType;
  DWORD dwSamplesPerFrame;
  DWORD dwBytesPerSampleContainer;
  DWORD dwValidBitsPerSample;
  float fFramesPerSecond;
  DWORD dwChannelMask;
};

struct IAudioMediaType : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE IsCompressedFormat(BOOL* pfCompressed) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsEqual(IAudioMediaType* pIAudioType, DWORD* pdwFlags) = 0;
  virtual const WAVEFORMATEX* STDMETHODCALLTYPE GetAudioFormat() = 0;
  virtual HRESULT STDMETHODCALLTYPE
  GetUncompressedAudioFormat(UNCOMPRESSEDAUDIOFORMAT* pUncompressedAudioFormat) = 0;
};

enum APO_CONNECTION_BUFFER_TYPE : int {
  APO_CONNECTION_BUFFER_TYPE_ALLOCATED = 0,
  APO_CONNECTION_BUFFER_TYPE_EXTERNAL = 1,
  APO_CONNECTION_BUFFER_TYPE_DEPENDANT = 2,
};

struct APO_CONNECTION_DESCRIPTOR {
  APO_CONNECTION_BUFFER_TYPE Type;
  UINT_PTR pBuffer;
  UINT32 u32MaxFrameCount;
  IAudioMediaType* pFormat;
  UINT32 u32Signature;
};

static_assert(sizeof(GUID) == 16);
static_assert(offsetof(UNCOMPRESSEDAUDIOFORMAT, dwSamplesPerFrame) == 16);
static_assert(offsetof(UNCOMPRESSEDAUDIOFORMAT, dwBytesPerSampleContainer) == 20);
static_assert(offsetof(UNCOMPRESSEDAUDIOFORMAT, dwValidBitsPerSample) == 24);
static_assert(offsetof(UNCOMPRESSEDAUDIOFORMAT, fFramesPerSecond) == 28);
static_assert(offsetof(UNCOMPRESSEDAUDIOFORMAT, dwChannelMask) == 32);
static_assert(sizeof(UNCOMPRESSEDAUDIOFORMAT) == 36);
static_assert(sizeof(APO_CONNECTION_BUFFER_TYPE) == 4);
static_assert(offsetof(APO_CONNECTION_DESCRIPTOR, pBuffer) == 8);
static_assert(offsetof(APO_CONNECTION_DESCRIPTOR, u32MaxFrameCount) == 16);
static_assert(offsetof(APO_CONNECTION_DESCRIPTOR, pFormat) == 24);
static_assert(offsetof(APO_CONNECTION_DESCRIPTOR, u32Signature) == 32);
static_assert(sizeof(APO_CONNECTION_DESCRIPTOR) == 40);
// The media type's table: IUnknown's three slots, then its own four.
static_assert(sizeof(IAudioMediaType) == sizeof(void*));
