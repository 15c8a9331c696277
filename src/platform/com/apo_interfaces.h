// Layer: base
// The APO SDK declarations the effect implements and uses: the APO interfaces, the media
// type, the connection descriptor, the uncompressed and wave format records, the
// registration record, the system-effect records, their identifiers and the APOERR codes.
// MinGW ships no APO headers, so these are ours on both targets, laid out as the Windows SDK
// lays them out (slot order, field order, x64 sizes): structs of pure virtual methods
// without virtual destructors, so a host on either system sees the same tables.
#pragma once

#include <cstddef>

#include "platform/com/apo_types.h"
#include "platform/com/com_types.h"

// mmreg.h packs its records to one byte; the sizes below hold the layout to it. Windows
// declares WAVEFORMATEX in the headers windows.h brings; WAVEFORMATEXTENSIBLE is ours on
// both targets, since mmreg.h would also turn the float subtype into an external symbol.
#pragma pack(push, 1)
#if !VORLUND_WINDOWS
struct tWAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
using WAVEFORMATEX = tWAVEFORMATEX;
#endif

#ifndef _WAVEFORMATEXTENSIBLE_
#define _WAVEFORMATEXTENSIBLE_
struct WAVEFORMATEXTENSIBLE {
  WAVEFORMATEX Format;
  union {
    WORD wValidBitsPerSample;
    WORD wSamplesPerBlock;
    WORD wReserved;
  } Samples;
  DWORD dwChannelMask;
  GUID SubFormat;
};
#endif
#pragma pack(pop)

#ifndef WAVE_FORMAT_EXTENSIBLE
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE
#endif

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nSamplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8);
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12);
static_assert(offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);
static_assert(offsetof(WAVEFORMATEXTENSIBLE, Samples) == 18);
static_assert(offsetof(WAVEFORMATEXTENSIBLE, dwChannelMask) == 20);
static_assert(offsetof(WAVEFORMATEXTENSIBLE, SubFormat) == 24);

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

// Time in units of 100 ns.
using HNSTIME = LONGLONG;

enum APO_FLAG : int {
  APO_FLAG_NONE = 0x00000000,
  APO_FLAG_INPLACE = 0x00000001,
  APO_FLAG_SAMPLESPERFRAME_MUST_MATCH = 0x00000002,
  APO_FLAG_FRAMESPERSECOND_MUST_MATCH = 0x00000004,
  APO_FLAG_BITSPERSAMPLE_MUST_MATCH = 0x00000008,
  APO_FLAG_MIXER = 0x00000010,
  APO_FLAG_DEFAULT = 0x0000000E,
};

// The SDK declares the interface list with one entry; a record for more interfaces is
// allocated longer.
struct APO_REG_PROPERTIES {
  CLSID clsid;
  APO_FLAG Flags;
  WCHAR szFriendlyName[256];
  WCHAR szCopyrightInfo[256];
  UINT32 u32MajorVersion;
  UINT32 u32MinorVersion;
  UINT32 u32MinInputConnections;
  UINT32 u32MaxInputConnections;
  UINT32 u32MinOutputConnections;
  UINT32 u32MaxOutputConnections;
  UINT32 u32MaxInstances;
  UINT32 u32NumAPOInterfaces;
  IID iidAPOInterfaceList[1];
};

static_assert(sizeof(WCHAR) == 2);
static_assert(sizeof(APO_FLAG) == 4);
static_assert(offsetof(APO_REG_PROPERTIES, Flags) == 16);
static_assert(offsetof(APO_REG_PROPERTIES, szFriendlyName) == 20);
static_assert(offsetof(APO_REG_PROPERTIES, szCopyrightInfo) == 532);
static_assert(offsetof(APO_REG_PROPERTIES, u32MajorVersion) == 1044);
static_assert(offsetof(APO_REG_PROPERTIES, u32MaxInstances) == 1068);
static_assert(offsetof(APO_REG_PROPERTIES, u32NumAPOInterfaces) == 1072);
static_assert(offsetof(APO_REG_PROPERTIES, iidAPOInterfaceList) == 1076);
static_assert(sizeof(APO_REG_PROPERTIES) == 1092);

enum AUDIO_SYSTEMEFFECT_STATE : int {
  AUDIO_SYSTEMEFFECT_STATE_OFF = 0,
  AUDIO_SYSTEMEFFECT_STATE_ON = 1,
};

struct AUDIO_SYSTEMEFFECT {
  GUID id;
  BOOL canSetState;
  AUDIO_SYSTEMEFFECT_STATE state;
};

static_assert(sizeof(AUDIO_SYSTEMEFFECT_STATE) == 4);
static_assert(offsetof(AUDIO_SYSTEMEFFECT, canSetState) == 16);
static_assert(offsetof(AUDIO_SYSTEMEFFECT, state) == 20);
static_assert(sizeof(AUDIO_SYSTEMEFFECT) == 24);

struct IAudioProcessingObject : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLatency(HNSTIME* pTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRegistrationProperties(APO_REG_PROPERTIES** ppRegProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE Initialize(UINT32 cbDataSize, BYTE* pbyData) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  IsInputFormatSupported(IAudioMediaType* pOppositeFormat, IAudioMediaType* pRequestedInputFormat,
                         IAudioMediaType** ppSupportedInputFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE
  IsOutputFormatSupported(IAudioMediaType* pOppositeFormat, IAudioMediaType* pRequestedOutputFormat,
                          IAudioMediaType** ppSupportedOutputFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputChannelCount(UINT32* pu32ChannelCount) = 0;
};

struct IAudioProcessingObjectRT : public IUnknown {
  virtual void STDMETHODCALLTYPE APOProcess(UINT32 u32NumInputConnections,
                                            APO_CONNECTION_PROPERTY** ppInputConnections,
                                            UINT32 u32NumOutputConnections,
                                            APO_CONNECTION_PROPERTY** ppOutputConnections) = 0;
  virtual UINT32 STDMETHODCALLTYPE CalcInputFrames(UINT32 u32OutputFrameCount) = 0;
  virtual UINT32 STDMETHODCALLTYPE CalcOutputFrames(UINT32 u32InputFrameCount) = 0;
};

struct IAudioProcessingObjectConfiguration : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE LockForProcess(
      UINT32 u32NumInputConnections, APO_CONNECTION_DESCRIPTOR** ppInputConnections,
      UINT32 u32NumOutputConnections, APO_CONNECTION_DESCRIPTOR** ppOutputConnections) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnlockForProcess() = 0;
};

// No methods of its own: it names the object as a system effect.
struct IAudioSystemEffects : public IUnknown {};

struct IAudioSystemEffects2 : public IAudioSystemEffects {
  virtual HRESULT STDMETHODCALLTYPE GetEffectsList(LPGUID* ppEffectsIds, UINT* pcEffects,
                                                   HANDLE Event) = 0;
};

struct IAudioSystemEffects3 : public IAudioSystemEffects2 {
  virtual HRESULT STDMETHODCALLTYPE GetControllableSystemEffectsList(AUDIO_SYSTEMEFFECT** effects,
                                                                     UINT* numEffects,
                                                                     HANDLE event) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAudioSystemEffectState(GUID effectId,
                                                              AUDIO_SYSTEMEFFECT_STATE state) = 0;
};

// One table pointer each: every method is virtual and no interface holds data.
static_assert(sizeof(IAudioProcessingObject) == sizeof(void*));
static_assert(sizeof(IAudioProcessingObjectRT) == sizeof(void*));
static_assert(sizeof(IAudioProcessingObjectConfiguration) == sizeof(void*));
static_assert(sizeof(IAudioSystemEffects3) == sizeof(void*));

inline constexpr IID IID_IAudioMediaType = {
    0x4E997F73, 0xB71F, 0x4798, {0x87, 0x3B, 0xED, 0x7D, 0xFC, 0xF1, 0x5B, 0x4D}};
inline constexpr IID IID_IAudioProcessingObject = {
    0xFD7F2B29, 0x24D0, 0x4B5C, {0xB1, 0x77, 0x59, 0x2C, 0x39, 0xF9, 0xCA, 0x10}};
inline constexpr IID IID_IAudioProcessingObjectRT = {
    0x9E1D6A6D, 0xDDBC, 0x4E95, {0xA4, 0xC7, 0xAD, 0x64, 0xBA, 0x37, 0x84, 0x6C}};
inline constexpr IID IID_IAudioProcessingObjectConfiguration = {
    0x0E5ED805, 0xABA6, 0x49C3, {0x8F, 0x9A, 0x2B, 0x8C, 0x88, 0x9C, 0x4F, 0xA8}};
inline constexpr IID IID_IAudioSystemEffects = {
    0x5FA00F27, 0xADD6, 0x499A, {0x8A, 0x9D, 0x6B, 0x98, 0x52, 0x1F, 0xA7, 0x5B}};
inline constexpr IID IID_IAudioSystemEffects2 = {
    0xBAFE99D2, 0x7436, 0x44CE, {0x9E, 0x0E, 0x4D, 0x89, 0xAF, 0xBF, 0xFF, 0x56}};
inline constexpr IID IID_IAudioSystemEffects3 = {
    0xC58B31CD, 0xFC6A, 0x4255, {0xBC, 0x1F, 0xAD, 0x29, 0xBB, 0x0A, 0x4A, 0x17}};

// The standard effect types a system effect reports in its effects list.
inline constexpr GUID AUDIO_EFFECT_TYPE_NOISE_SUPPRESSION = {
    0x6F64ADBF, 0x8211, 0x11E2, {0x8C, 0x70, 0x2C, 0x27, 0xD7, 0xF0, 0x01, 0xFA}};
inline constexpr GUID AUDIO_EFFECT_TYPE_AUTOMATIC_GAIN_CONTROL = {
    0x6F64ADC0, 0x8211, 0x11E2, {0x8C, 0x70, 0x2C, 0x27, 0xD7, 0xF0, 0x01, 0xFA}};
inline constexpr GUID AUDIO_EFFECT_TYPE_EQUALIZER = {
    0x6F64ADC3, 0x8211, 0x11E2, {0x8C, 0x70, 0x2C, 0x27, 0xD7, 0xF0, 0x01, 0xFA}};
inline constexpr GUID AUDIO_EFFECT_TYPE_DYNAMIC_RANGE_COMPRESSION = {
    0x6F64ADCE, 0x8211, 0x11E2, {0x8C, 0x70, 0x2C, 0x27, 0xD7, 0xF0, 0x01, 0xFA}};

// IAudioMediaType::IsEqual flags.
constexpr DWORD AUDIOMEDIATYPE_EQUAL_FORMAT_TYPES = 0x00000002;
constexpr DWORD AUDIOMEDIATYPE_EQUAL_FORMAT_DATA = 0x00000004;
constexpr DWORD AUDIOMEDIATYPE_EQUAL_FORMAT_USER_DATA = 0x00000008;
