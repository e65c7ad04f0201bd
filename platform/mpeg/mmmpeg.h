/* The MPEG audio decoder library: a shared library with a C interface, loaded by the player at run
 * time. It selects a file, reports the stream information and the ID3v1 tag, seeks by frame and
 * decodes 16-bit PCM. */
#ifndef TUNEFOLD_MMMPEG_H
#define TUNEFOLD_MMMPEG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The file name the loader looks for. */
#define MMMPEG_LIBRARY_NAME "libmmmpeg32.so"

/* Stream information, 166 bytes, packed, little-endian. */
#pragma pack(push, 1)
typedef struct TMMMpegInfo {
    uint8_t Version;      /* 0 = MPEG-2 lower sampling frequencies (and 2.5), 1 = MPEG-1 */
    int32_t Layer;        /* 1, 2 or 3 */
    int32_t SampleRate;   /* Hz of the stream */
    int32_t PlaybackRate; /* Hz of the decoded PCM */
    int32_t BitRate;      /* kbit/s; the average for a variable-rate stream */
    uint8_t Mode;         /* 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel */
    int32_t Frames;       /* frames in the file */
    int32_t Time;         /* playing time in milliseconds */
    double FrameTime;     /* milliseconds per frame */
    uint8_t Reserved[4];
    uint8_t ID3Tag[128]; /* the file's last 128 bytes when they start with "TAG", else zeros */
} TMMMpegInfo;
#pragma pack(pop)

typedef void* TMpegHandle;
typedef void (*TMpegNotify)(int32_t value, void* user);
typedef void (*TMpegDecodeCallback)(void* user, int32_t frame);

/* Channel selections of the decoded output. */
enum { MPEG_CM_LEFT = 0, MPEG_CM_RIGHT = 1, MPEG_CM_BOTH = 2, MPEG_CM_DOWNMIX = 3 };

/* Error codes below 1000 are the library's own; 1000 + n is the decoder engine's code n. */
enum {
    MPEG_OK = 0,
    MPEG_ERR_OPEN = 1,
    MPEG_ERR_NOT_MPEG = 2,
    MPEG_ERR_NO_FILE = 3,
    MPEG_ERR_NOT_OPEN = 4,
    MPEG_ERR_DECODE = 5,
    MPEG_ERR_HANDLE = 6,
    MPEG_ERR_PARAM = 7,
    MPEG_ERR_ABORTED = 8,
    MPEG_ERR_MEMORY = 9,
    MPEG_ERR_SEEK = 10,
    MPEG_ERR_UNSUPPORTED = 11
};

int32_t mpeg_Version(void);
TMpegHandle mpeg_Init(int32_t* code, TMpegNotify notify, void* user);
void mpeg_Done(TMpegHandle* handle);
int32_t mpeg_SetFileName(TMpegHandle handle, const char* name);
int32_t mpeg_GetFileName(TMpegHandle handle, char* buffer, int32_t size);
int32_t mpeg_GetEmpty(TMpegHandle handle);
int32_t mpeg_GetFileInfo(TMpegHandle handle, TMMMpegInfo* info);
int32_t mpeg_OpenFile(TMpegHandle handle);
int32_t mpeg_CloseFile(TMpegHandle handle);
int32_t mpeg_ResetFile(TMpegHandle handle);
int32_t mpeg_ReadDataBytes(TMpegHandle handle, void* buffer, int32_t count);
int32_t mpeg_GetDone(TMpegHandle handle);
int32_t mpeg_SetPosition(TMpegHandle handle, int32_t frame);
int32_t mpeg_GetPosition(TMpegHandle handle);
int32_t mpeg_SetChannelMode(TMpegHandle handle, int32_t mode);
void mpeg_GetChannelMode(TMpegHandle handle, int32_t* mode);
int32_t mpeg_SetTrailingHeader(TMpegHandle handle, int32_t value);
int32_t mpeg_SetExactPosition(TMpegHandle handle, int32_t value);
int32_t mpeg_Clear(TMpegHandle handle);
int32_t mpeg_GetErrorText(int32_t code, char* buffer, int32_t size);

/* Not used by the player. */
int32_t mpeg_SetDecodeCallback(TMpegHandle handle, TMpegDecodeCallback callback, void* user);
int32_t mpeg_SetDecodeMode(TMpegHandle handle, int32_t mode);
int32_t mpeg_SetFileOffset(TMpegHandle handle, int32_t offset);
/* Makes the reads of the open file fail with MPEG_ERR_ABORTED until it is reset or reselected. */
int32_t mpeg_AbortReadData(TMpegHandle handle);
int32_t mpeg_ScanFile(TMpegHandle handle);
int32_t mpeg_ScanFileEx(TMpegHandle handle, int32_t flags);
int32_t mpeg_EncryptFile(const char* source, const char* destination, int32_t key);
/* Copies the ID3v1 tag of a file (128 bytes, zeros without a tag); 0 when a tag was found. */
int32_t mpeg_ReadID3Tag(const char* name, uint8_t* tag128);

/* The text fields of the selected file's ID3v2 tag, as UTF-8. */
enum { MPEG_TEXT_TITLE = 0, MPEG_TEXT_ARTIST = 1, MPEG_TEXT_ALBUM = 2 };
/* Copies one field (its first value, NUL-terminated, cut at a character boundary to fit `size`);
 * an empty text when the file has no such field. */
int32_t mpeg_GetTextTag(TMpegHandle handle, int32_t field, char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
