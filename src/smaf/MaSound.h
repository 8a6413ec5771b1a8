#pragma once
/* The twelve entry points of the SMAF synthesizer library, as the program calls them.
 * C calling convention; integers are 32-bit, pointers are pointers; only MaSound_Load's result
 * is used by the program (the file id, 0 when the data hold nothing playable).
 * Shared by the loader, the test double and our own synthesizer library. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*MaSoundEventCallback)(uint8_t event); /* 127: the song has ended */

typedef int32_t (*PFN_MaSound_Initialize)(void);
typedef int32_t (*PFN_MaSound_Create)(int32_t instance);
typedef int32_t (*PFN_MaSound_Load)(int32_t instance, uint8_t* data, int32_t size, int32_t mode,
                                    MaSoundEventCallback callback, void* extra);
typedef int32_t (*PFN_MaSound_Open)(int32_t instance, int32_t fileId, int32_t mode, void* extra);
typedef int32_t (*PFN_MaSound_Standby)(int32_t instance, int32_t fileId, void* extra);
typedef int32_t (*PFN_MaSound_Start)(int32_t instance, int32_t fileId, int32_t loops, void* extra);
typedef int32_t (*PFN_MaSound_Seek)(int32_t instance, int32_t fileId, int32_t position, int32_t flag, void* extra);
typedef int32_t (*PFN_MaSound_Control)(int32_t instance, int32_t fileId, int32_t control, void* param, void* extra);
typedef int32_t (*PFN_MaSound_Stop)(int32_t instance, int32_t fileId, void* extra);
typedef int32_t (*PFN_MaSound_Close)(int32_t instance, int32_t fileId, void* extra);
typedef int32_t (*PFN_MaSound_Unload)(int32_t instance, int32_t fileId, void* extra);
typedef int32_t (*PFN_MaSound_End)(void);

/* Exported by a library that implements the entry points. */
int32_t MaSound_Initialize(void);
int32_t MaSound_Create(int32_t instance);
int32_t MaSound_Load(int32_t instance, uint8_t* data, int32_t size, int32_t mode,
                     MaSoundEventCallback callback, void* extra);
int32_t MaSound_Open(int32_t instance, int32_t fileId, int32_t mode, void* extra);
int32_t MaSound_Standby(int32_t instance, int32_t fileId, void* extra);
int32_t MaSound_Start(int32_t instance, int32_t fileId, int32_t loops, void* extra);
int32_t MaSound_Seek(int32_t instance, int32_t fileId, int32_t position, int32_t flag, void* extra);
int32_t MaSound_Control(int32_t instance, int32_t fileId, int32_t control, void* param, void* extra);
int32_t MaSound_Stop(int32_t instance, int32_t fileId, void* extra);
int32_t MaSound_Close(int32_t instance, int32_t fileId, void* extra);
int32_t MaSound_Unload(int32_t instance, int32_t fileId, void* extra);
int32_t MaSound_End(void);

#ifdef __cplusplus
}
#endif
