/* Records a fixture as a Windows host would: every export found by its plain
 * name at run time, a standard-call message callback and a write callback.
 * Built for Linux too (dlopen), so that the two systems' recordings of the
 * same units can be compared.
 *
 *   dll_check LIBRARY UNITS OUT_DIR [crash]
 *
 * UNITS: records of a 4-byte little-endian size, a key byte, the access unit.
 * Writes plain.mp4, fragmented.mp4 (then continued), callback.mp4 and, on
 * Windows, two names with an e-acute, one in cp1252 and one in UTF-8. Prints
 * one line per finding; exits 0 when every step went as it must. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <recmux/recmux_reader.h>
#include <recmux/recmux_writer.h>

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Library;
#define LOAD(name) LoadLibraryA(name)
#define FIND(lib, name) ((void *)GetProcAddress(lib, name))
#else
#include <dlfcn.h>
typedef void *Library;
#define LOAD(name) dlopen(name, RTLD_NOW)
#define FIND(lib, name) dlsym(lib, name)
#endif

static struct {
    recmux_writer *(RECMUX_CDECL *open)(const char *);
    recmux_writer *(RECMUX_CDECL *open_callback)(void *, recmux_write_callback);
    int32_t(RECMUX_CDECL *set_file_type)(recmux_writer *, int32_t);
    int32_t(RECMUX_CDECL *set_msg_notify)(recmux_writer *, void *, MsgNotifyCallback);
    int32_t(RECMUX_CDECL *init_audio)(recmux_writer *, int32_t, int32_t, int32_t, int32_t);
    int32_t(RECMUX_CDECL *write_video)(recmux_writer *, const uint8_t *, uint32_t, uint64_t, int32_t);
    int32_t(RECMUX_CDECL *write_audio)(recmux_writer *, const uint8_t *, uint32_t, uint64_t);
    int32_t(RECMUX_CDECL *close)(recmux_writer **);
    int32_t(RECMUX_CDECL *enc_reset)(VoiceCodecState *, int16_t);
    int32_t(RECMUX_CDECL *encode)(VoiceCodecState *, const int16_t *, uint8_t *, uint16_t);
} api;

static const char *const kExports[] = {
    "recmux_writer_open", "recmux_writer_open_and_set_callback", "recmux_writer_is_open",
    "recmux_writer_set_file_type", "recmux_writer_set_msg_notify", "recmux_writer_init_video",
    "recmux_writer_init_audio", "recmux_writer_write_video", "recmux_writer_write_audio",
    "recmux_writer_write_frame", "recmux_writer_get_begin_pts", "recmux_writer_get_end_pts",
    "recmux_writer_close", "recmux_reader_open", "recmux_reader_is_open",
    "recmux_reader_get_fps", "recmux_reader_get_duration", "recmux_reader_read_frame",
    "recmux_reader_close", "recmux_version", "recmux_set_log_callback",
    "recmux_set_ffmpeg_log_level", "ZK_VOICE_GetVersion", "ZK_VOICE_EncReset",
    "ZK_VOICE_DecReset", "ZK_VOICE_EncodeFrame", "ZK_VOICE_DecodeFrame",
    "ZK_VOICE_TransCodeReset", "ZK_VOICE_TransCodeFrame",
};

typedef struct {
    uint8_t *bytes;
    uint32_t size;
    int key;
} Unit;

static Unit units[4096];
static size_t unitCount;
static int failures;
static int messages;

static void Check(int ok, const char *what)
{
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    failures += !ok;
}

static int ReadUnits(const char *path)
{
    FILE *f = fopen(path, "rb");
    uint8_t head[5];
    while (f && unitCount < sizeof units / sizeof units[0] && fread(head, 1, 5, f) == 5) {
        Unit *u = &units[unitCount];
        u->size = head[0] | head[1] << 8 | head[2] << 16 | (uint32_t)head[3] << 24;
        u->key = head[4];
        u->bytes = malloc(u->size);
        if (!u->bytes || fread(u->bytes, 1, u->size, f) != u->size)
            break;
        unitCount++;
    }
    if (f)
        fclose(f);
    return unitCount > 0;
}

static void RECMUX_CDECL Print(void *user, int32_t level, const char *line)
{
    (void)user;
    printf("library (%d): %s", level, line);
}

static int RECMUX_STDCALL Count(void *user, int32_t category, int32_t value)
{
    (void)category;
    (void)value;
    ++*(int *)user;
    return 0;
}

static int RECMUX_CDECL Append(void *opaque, uint8_t *bytes, int size)
{
    return fwrite(bytes, 1, (size_t)size, (FILE *)opaque) == (size_t)size ? size : -1;
}

/* The units at 25 fps from start_us, with 1 kHz A-law voice frames of 20 ms
 * interleaved; what close returned. */
static int Record(recmux_writer *w, uint64_t start_us, int file_type, int stop_after)
{
    VoiceCodecState voice;
    int16_t pcm[160];
    uint8_t frame[4 + 320];
    uint64_t sound_us = 0;
    size_t i;
    if (!w)
        return -1;
    api.set_file_type(w, file_type);
    api.set_msg_notify(w, &messages, Count);
    api.init_audio(w, RECMUX_AUDIO_G711_ALAW, 1, 8000, 16);
    api.enc_reset(&voice, ZK_VOICE_G711_ALAW);
    for (i = 0; i < unitCount; i++) {
        const uint64_t video_us = i * 40000;
        if (api.write_video(w, units[i].bytes, units[i].size, start_us + video_us, units[i].key))
            return -2;
        for (; sound_us <= video_us; sound_us += 20000) {
            int n;
            for (n = 0; n < 160; n++)
                pcm[n] = (int16_t)(8000 * ((n % 8) < 4 ? 1 : -1));
            api.encode(&voice, pcm, frame, 160);
            api.write_audio(w, frame, 4 + 2u * frame[2], start_us + sound_us);
        }
        if (stop_after && (int)i == stop_after) {
#ifdef _WIN32
            TerminateProcess(GetCurrentProcess(), 9);
#else
            abort();
#endif
        }
    }
    return api.close(&w);
}

static void Path(char *out, size_t size, const char *dir, const char *name)
{
    snprintf(out, size, "%s/%s", dir, name);
}

#ifdef _WIN32
/* Whether the folder lists name (UTF-16) as Windows shows it. */
static int Listed(const char *dir, const wchar_t *name)
{
    wchar_t pattern[MAX_PATH];
    WIN32_FIND_DATAW found;
    HANDLE search;
    int listed = 0;
    swprintf(pattern, MAX_PATH, L"%hs\\*", dir);
    search = FindFirstFileW(pattern, &found);
    while (search != INVALID_HANDLE_VALUE && !listed) {
        listed = wcscmp(found.cFileName, name) == 0;
        if (!FindNextFileW(search, &found))
            break;
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return listed;
}

/* A reader that does not share deletion keeps the name from a continuation:
 * close says so, and the next open sets the whole recording aside. */
static void HeldByReader(const char *dir)
{
    char path[512];
    FILE *reader;
    recmux_writer *w;
    Path(path, sizeof path, dir, "held.mp4");
    Check(Record(api.open(path), 1000000, RECMUX_FILE_PLAIN, 0) == 0, "recorded before a reader holds it");
    reader = fopen(path, "rb");
    Check(Record(api.open(path), 9000000, RECMUX_FILE_PLAIN, 0) == 1,
          "a continuation that cannot replace a file a reader holds says so");
    fclose(reader);
    w = api.open(path);
    Check(w != NULL && api.close(&w) == 0, "the next open sets the continued recording aside");
}

static void Names(const char *dir)
{
    static const struct {
        const char *bytes;
        const wchar_t *shown;
    } names[] = {{"cam\xe9ra.mp4", L"cam\x00e9ra.mp4"}, {"cam\xc3\xa9ra-utf8.mp4", L"cam\x00e9ra-utf8.mp4"}};
    char path[512];
    size_t i;
    for (i = 0; i < 2; i++) {
        Path(path, sizeof path, dir, names[i].bytes);
        Check(Record(api.open(path), 1000000, RECMUX_FILE_PLAIN, 0) == 0, "non-ASCII name recorded");
        Check(Record(api.open(path), 9000000, RECMUX_FILE_PLAIN, 0) == 0, "non-ASCII name continued");
        Check(Listed(dir, names[i].shown), "non-ASCII name shown by FindFirstFileW");
    }
}
#endif

static int Load(const char *library)
{
    Library lib = LOAD(library);
    size_t i;
    int all = lib != NULL;
    for (i = 0; lib && i < sizeof kExports / sizeof kExports[0]; i++)
        all &= FIND(lib, kExports[i]) != NULL;
    Check(all, "every export found by its plain name");
    if (!all)
        return 0;
    ((int32_t(RECMUX_CDECL *)(int32_t))FIND(lib, "recmux_set_ffmpeg_log_level"))(RECMUX_LOG_ERROR);
    ((int32_t(RECMUX_CDECL *)(recmux_log_callback, void *, int32_t))FIND(
        lib, "recmux_set_log_callback"))(Print, NULL, RECMUX_LOG_WARNING);
    *(void **)&api.open = FIND(lib, "recmux_writer_open");
    *(void **)&api.open_callback = FIND(lib, "recmux_writer_open_and_set_callback");
    *(void **)&api.set_file_type = FIND(lib, "recmux_writer_set_file_type");
    *(void **)&api.set_msg_notify = FIND(lib, "recmux_writer_set_msg_notify");
    *(void **)&api.init_audio = FIND(lib, "recmux_writer_init_audio");
    *(void **)&api.write_video = FIND(lib, "recmux_writer_write_video");
    *(void **)&api.write_audio = FIND(lib, "recmux_writer_write_audio");
    *(void **)&api.close = FIND(lib, "recmux_writer_close");
    *(void **)&api.enc_reset = FIND(lib, "ZK_VOICE_EncReset");
    *(void **)&api.encode = FIND(lib, "ZK_VOICE_EncodeFrame");
    return 1;
}

int main(int argc, char **argv)
{
    char plain[512], fragmented[512], callback[512], crashed[512];
    FILE *stream;
    recmux_writer *first, *again;
    if (argc < 4 || !Load(argv[1]) || !ReadUnits(argv[2]))
        return 2;
    Path(crashed, sizeof crashed, argv[3], "crashed.mp4");
    if (argc > 4)
        return Record(api.open(crashed), 1000000, RECMUX_FILE_FRAGMENTED, (int)unitCount / 2);
    Path(plain, sizeof plain, argv[3], "plain.mp4");
    Path(fragmented, sizeof fragmented, argv[3], "fragmented.mp4");
    Path(callback, sizeof callback, argv[3], "callback.mp4");
    Check(Record(api.open(plain), 1000000, RECMUX_FILE_PLAIN, 0) == 0, "plain recording");
    Check(messages == 2, "the message callback told video and audio ready");
    Check(Record(api.open(fragmented), 1000000, RECMUX_FILE_FRAGMENTED, 0) == 0, "fragmented");
    Check(Record(api.open(fragmented), 9000000, RECMUX_FILE_FRAGMENTED, 0) == 0, "continued");
    stream = fopen(callback, "wb");
    Check(Record(api.open_callback(stream, Append), 1000000, RECMUX_FILE_FRAGMENTED, 0) == 0,
          "callback recording");
    fclose(stream);
    first = api.open(plain);
    Check(first && api.open(plain) == NULL, "a second open of a name being recorded is refused");
    api.close(&first);
    again = api.open(crashed);
    Check(again != NULL, "a recording killed half-way is taken back at the next open");
    api.close(&again);
#ifdef _WIN32
    Names(argv[3]);
    HeldByReader(argv[3]);
#endif
    return failures != 0;
}
