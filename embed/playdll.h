/*
 * libplaydll: the playback object of playsrv, in-process, behind a C ABI.
 *
 * One playdll handle holds one play object, the one playsrv serves over
 * JSON-RPC (playsrv is itself a client of these functions): its output
 * engine, its wave, its clock, its sound output. A host creates it, attaches
 * an engine with playdll_DxObj, hands a wave over with playdll_WriteWaveMemo
 * (block lists made with the list builder below), drives playback with the
 * play commands and learns what happens through events.
 *
 * Link with `pkg-config --cflags --libs playdll`. C++ hosts may use the
 * header-only wrapper playdll.hpp; Python hosts the package `playdll`.
 *
 * STATUS AND ERRORS
 *   Every function that can fail returns a status: PLAYDLL_OK (0) or one of
 *   the negative PLAYDLL_ERROR_ codes. After a failure, playdll_last_error()
 *   gives its text on the thread that made the call (each thread has its
 *   own; a later success leaves it as it was). Outcomes of the play commands
 *   are not statuses: they reach the host as MsgBoxOb events ("S2" status
 *   reports, error boxes), exactly as over JSON-RPC. A member without an
 *   error handler of its own (PlayAgain, PlayAgainRev, PlayUTurn, PlayAtPos,
 *   PlayAtPosRev, ReleaseFiles) returns PLAYDLL_ERROR_RUNTIME when a run-time
 *   error ends it (a file of the wave that is gone, say), with the error's
 *   description as the text.
 *
 * POSITIONS ARE 1-BASED
 *   Sample positions count from 1: position 1 is the first sample of the
 *   wave, and playdll_PlayCurrentPosition reports positions the same way.
 *   PlayAtPos and PlayAtPosRev do not refuse positions outside 1 .. WaveNos;
 *   the engine clamps the start to the wave.
 *   In block lists, StartPos (the entry's first sample in its channel) and
 *   FilePos (the byte of its first sample in its file) count from 1 too. A
 *   list whose first entry says StartPos 0 is not refused, and then plays
 *   one frame early: its first sample lies at position 0 and never sounds.
 *   The list builder below works StartPos out, so lists it makes cannot
 *   have that fault.
 *
 * THREADS
 *   Each handle runs one thread of its own, "playdll-loop", on which every
 *   piece of its playback logic runs, one at a time: the calls of the host,
 *   the engines' timer ticks and the device notifications. Any host thread
 *   may call any function at any time (except as said under RE-ENTRY and
 *   DESTRUCTION); the call is carried to the loop thread, waits its turn,
 *   runs there and returns when it is done. Calls from several threads are
 *   carried out one after the other, never inside each other, in the order
 *   they reach the loop.
 *   A sound card output adds the sound system's own thread, which only
 *   takes frames that the loop thread has prepared.
 *
 * EVENTS
 *   The play object raises two kinds of event: PLAYDLL_EVENT_MSGBOXOB, the
 *   interface's event MsgBoxOb(Msg, Ttl) (status reports have Msg "S2" and
 *   the text in Ttl), and PLAYDLL_EVENT_MESSAGEBOX, the library's own
 *   non-blocking message boxes (the block storage engine's errors; the text
 *   in Msg, Ttl ""). Events are delivered in the order they were raised, in
 *   one of two ways:
 *   - by callback: playdll_set_event_callback. The callback runs on the
 *     handle's event thread, "playdll-events", started by the first callback
 *     set, one event at a time.
 *   - by descriptor: without a callback, events wait in a queue;
 *     playdll_event_fd is readable while the queue holds one, and
 *     playdll_take_event takes the oldest. For hosts with a poll loop.
 *   Events raised during a call reach the host before the call returns: in
 *   callback mode the call returns only after the callback has returned for
 *   each of them; in descriptor mode they are in the queue when it returns.
 *   Events raised between calls (a run that ends, under the real clock) are
 *   delivered as they come.
 *
 * RE-ENTRY
 *   The callback may call every function of its own handle and of others,
 *   except playdll_destroy, which then returns PLAYDLL_ERROR_IN_CALLBACK and
 *   does nothing. A call made inside the callback is carried out on the loop
 *   thread like any other and returns when it is done; the events it raises
 *   are delivered after the running callback has returned (the callback is
 *   never entered twice at once), so that call returns before its own
 *   events are seen. The callback must not wait for another host thread
 *   that is itself inside a call of the same handle made in callback mode:
 *   that call waits for the callback.
 *
 * TIME AND SIMULATE MODE
 *   With simulate set, the handle runs on a virtual clock that moves only in
 *   playdll_advance_time: it processes every timer tick and device event
 *   that falls due, in time order, and returns at once, so a script of calls
 *   gives the same frames and the same events every time. A call made while
 *   an advance runs (from another thread or from the callback) is carried
 *   out when the advance has ended, at its end time. Without simulate the
 *   loop thread follows the real clock on its own, and playdll_advance_time
 *   waits the given time.
 *
 * DESTRUCTION
 *   playdll_Release destroys the play object as the host's release does in
 *   the interface: the engine is released (its reports follow), the wave is
 *   dropped, and every member then returns PLAYDLL_ERROR_RELEASED.
 *   playdll_destroy releases the object if it has not been released, waits
 *   until its events are delivered (callback mode), ends both threads and
 *   frees the handle. No call of the same handle may overlap it or follow it.
 */
#ifndef PLAYDLL_H
#define PLAYDLL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define PLAYDLL_API __attribute__((visibility("default")))
#else
#define PLAYDLL_API
#endif

#define PLAYDLL_VERSION_MAJOR 1
#define PLAYDLL_VERSION_MINOR 0

typedef struct playdll_handle playdll_handle;

/* ------------------------------------------------------------ statuses */

enum playdll_status {
  PLAYDLL_OK = 0,
  PLAYDLL_ERROR_RUNTIME = -1,     /* a run-time error ended the member */
  PLAYDLL_ERROR_ARGUMENT = -2,    /* a null pointer, a count that does not fit, an entry the builder refuses */
  PLAYDLL_ERROR_RELEASED = -3,    /* the object has been released (playdll_Release) */
  PLAYDLL_ERROR_IN_CALLBACK = -4, /* playdll_destroy called inside the event callback */
  PLAYDLL_ERROR_SETUP = -5        /* the handle or the file could not be set up */
};

/* A short text for a status ("run-time error", ...); never NULL. Any thread. */
PLAYDLL_API const char* playdll_status_text(int status);
/* The text of the calling thread's last failure ("" when none); valid until
 * the thread's next failing call. Any thread. */
PLAYDLL_API const char* playdll_last_error(void);

/* ------------------------------------------------------------ the handle */

/* Zero-initialise, then set what differs from the defaults. The strings are
 * copied by playdll_create. */
typedef struct playdll_options {
  /* Where the sound goes, as playsrv's --output: "device" (the first of
   * JACK, PipeWire, PulseAudio, ALSA that opens), "device:pipewire[:NODE]",
   * "device:pulse[:SINK]", "device:jack[:PORT,PORT]", "device:alsa[:PCM]",
   * "null", "wav:PATH", "virtual", or a comma list ("device,wav:take.wav").
   * NULL or "": "virtual" under simulate, else the sound card when one opens
   * and "null" when none does. */
  const char* output;
  /* The engines the platform offers, a comma list of dx9, dx7, waveout
   * (playsrv's --engines). NULL: all three. */
  const char* engines;
  /* Non-zero: the virtual clock (see TIME AND SIMULATE MODE). */
  int simulate;
  /* What a sound card output keeps queued, in ms (playsrv's --latency-ms);
   * 0: as little as the sound system runs safely with. */
  int latency_ms;
  /* Full path of the sound service library the DirectSound 9 engine loads.
   * NULL: libsoundservice.so beside this library, else in its playsrv/
   * folder (where `make install` puts it). */
  const char* sound_service;
  /* Diagnostics: "error", "warning", "info" or "debug", and a file to append
   * them to. They are the process's: the last handle created sets them.
   * NULL: as they are (standard error, level info). */
  const char* log_level;
  const char* log_file;
} playdll_options;

/* A new handle, its object constructed (both tempo factors 1.0, no engine,
 * no wave). NULL when it cannot be set up (an output that cannot be opened,
 * an unknown engine name, ...), with the reason in playdll_last_error().
 * options NULL: all defaults. Any thread. */
PLAYDLL_API playdll_handle* playdll_create(const playdll_options* options);

/* Releases the object unless released, delivers what it raises, ends the
 * handle's threads and frees it. NULL: nothing. Returns PLAYDLL_OK, or
 * PLAYDLL_ERROR_IN_CALLBACK (nothing done) inside the event callback. */
PLAYDLL_API int playdll_destroy(playdll_handle* handle);

/* ------------------------------------------------------------ events */

enum playdll_event_kind {
  PLAYDLL_EVENT_MSGBOXOB = 1,  /* MsgBoxOb(Msg, Ttl) */
  PLAYDLL_EVENT_MESSAGEBOX = 2 /* a message box of the library: text in Msg, Ttl "" */
};

typedef struct playdll_event {
  int kind;        /* enum playdll_event_kind */
  const char* Msg; /* UTF-8 or the bytes raised (a file name); never NULL */
  const char* Ttl; /* never NULL */
} playdll_event;

/* Called on the thread "playdll-events"; the event and its strings are valid
 * until the callback returns. */
typedef void (*playdll_event_callback)(void* user, const playdll_event* event);

/* Delivers events to `callback` from now on, the ones already queued first;
 * NULL goes back to the queue. May be called inside the callback. `user`
 * must stay valid until the callback is replaced or the handle destroyed
 * (playdll_destroy delivers the reports of the release). */
PLAYDLL_API int playdll_set_event_callback(playdll_handle* handle, playdll_event_callback callback, void* user);
/* A descriptor that is readable while events wait to be taken (without a
 * callback). Owned by the handle; for poll(2), never for reading. -1 for a
 * NULL handle. */
PLAYDLL_API int playdll_event_fd(playdll_handle* handle);
/* Takes the oldest waiting event into *event: returns 1, or 0 when none
 * waits (always 0 while a callback is set), or a status below 0. The
 * strings stay valid until the calling thread's next playdll_take_event. */
PLAYDLL_API int playdll_take_event(playdll_handle* handle, playdll_event* event);

/* ------------------------------------------------------------ members
 * One function per member of the interface _PlayDllClass, under its name.
 * Outcomes come as MsgBoxOb events; the status says whether the call itself
 * was carried out. All return PLAYDLL_ERROR_RELEASED after playdll_Release
 * and PLAYDLL_ERROR_ARGUMENT for a NULL handle or a NULL pointer. */

/* Attaches the engine for window handle *MFrmHwnd (any positive number)
 * and writes into it: 1 a DirectSound engine, 2 waveOut, -1 failure;
 * unchanged when not positive (no engine is then in use). */
PLAYDLL_API int playdll_DxObj(playdll_handle* handle, int32_t* MFrmHwnd);
/* The 1-based position being heard (0 with no engine). */
PLAYDLL_API int playdll_PlayCurrentPosition(playdll_handle* handle, int32_t* position);
PLAYDLL_API int playdll_PlayAgain(playdll_handle* handle);
PLAYDLL_API int playdll_PlayAgainRev(playdll_handle* handle);
/* 0 idle or stopped, 1 playing, 2 playing with loop, 3 paused. */
PLAYDLL_API int playdll_PlayRunningDx7State(playdll_handle* handle, int32_t* state);
PLAYDLL_API int playdll_PlayUTurn(playdll_handle* handle);
/* Plays forward (Rev: backward) from the 1-based position Pos. */
PLAYDLL_API int playdll_PlayAtPos(playdll_handle* handle, int32_t Pos);
PLAYDLL_API int playdll_PlayAtPosRev(playdll_handle* handle, int32_t Pos);
PLAYDLL_API int playdll_ReleaseFiles(playdll_handle* handle);
PLAYDLL_API int playdll_StopPlay(playdll_handle* handle);
PLAYDLL_API int playdll_PlayContinue(playdll_handle* handle);
PLAYDLL_API int playdll_UpdatePlayPosition(playdll_handle* handle);
PLAYDLL_API int playdll_PlayPause(playdll_handle* handle);
/* Hands a wave over: FmtBits 8 or 16, FmtChannal 1 or 2, FmtFriq samples per
 * second, WaveNos samples per channel, and one block list per channel as
 * `count` 32-bit integers: item 0 holds the entry count N, the entries
 * follow (the list builder's data). BlkInLstR is read for two channels only
 * and may be NULL (count 0) for one. */
PLAYDLL_API int playdll_WriteWaveMemo(playdll_handle* handle, int32_t FmtBits, int32_t FmtChannal, int32_t FmtFriq,
                                      int32_t WaveNos, const int32_t* BlkInLstL, size_t BlkInLstLCount,
                                      const int32_t* BlkInLstR, size_t BlkInLstRCount);
/* The write-only properties. */
PLAYDLL_API int playdll_MemorySizeToUse(playdll_handle* handle, int32_t value); /* bytes of samples kept in memory */
PLAYDLL_API int playdll_LoopPlayON(playdll_handle* handle, int value);          /* non-zero: on */
PLAYDLL_API int playdll_PlayTempoFor(playdll_handle* handle, float value);
PLAYDLL_API int playdll_PlayTempoRev(playdll_handle* handle, float value);
PLAYDLL_API int playdll_AppTmpDir(playdll_handle* handle, const char* value);    /* "" : the system's */
/* Destroys the play object (see DESTRUCTION); later members are refused. */
PLAYDLL_API int playdll_Release(playdll_handle* handle);

/* Lets `ms` milliseconds (0 to 3600000) of play time pass and writes the
 * loop's time in ms into *now_ms (may be NULL): under simulate at once (see
 * TIME AND SIMULATE MODE), else by waiting. Also after playdll_Release. */
PLAYDLL_API int playdll_advance_time(playdll_handle* handle, int32_t ms, int64_t* now_ms);

/* ------------------------------------------------------------ block lists
 * The list builder: entries appended by name and numbers, StartPos worked
 * out from the entries before (the first sample is position 1), the
 * elements packed as WriteWaveMemo reads them. An entry it refuses returns
 * PLAYDLL_ERROR_ARGUMENT, leaves the list as it was, and says why in
 * playdll_last_error(), naming the list and the entry: a length below 1, a
 * FilePos below 1, an entry that runs the channel or the file past the
 * 2^31 - 1 positions 32-bit numbers count, a missing name, a name too long
 * for the list, a WAV format other than 1 or 2 channels of 8 or 16 bits.
 * A list is used by one thread at a time. */

typedef struct playdll_list playdll_list;

/* An empty list; `name` (NULL: "block list") begins its refusals ("left
 * channel, entry 2 (silence): Length 0 is below 1"). NULL when out of memory. */
PLAYDLL_API playdll_list* playdll_list_create(const char* name);
PLAYDLL_API void playdll_list_destroy(playdll_list* list);
/* `length` samples of a raw 16-bit block file, the first at byte file_pos. */
PLAYDLL_API int playdll_list_add_block_file(playdll_list* list, const char* path, int32_t length, int32_t file_pos);
/* `length` samples of one channel of a WAV file's data read in place: its
 * first sample at byte file_pos (for the right channel of stereo data, the
 * right sample of the first frame); channels and bits of the file's data. */
PLAYDLL_API int playdll_list_add_wav_file(playdll_list* list, const char* path, int32_t length, int32_t file_pos,
                                          int32_t channels, int32_t bits);
PLAYDLL_API int playdll_list_add_silence(playdll_list* list, int32_t length);
/* The list's elements (item 0: N) and their count; valid until the list
 * changes or goes. */
PLAYDLL_API const int32_t* playdll_list_data(const playdll_list* list);
PLAYDLL_API size_t playdll_list_size(const playdll_list* list);
/* Samples appended so far: the next entry starts at position samples + 1. */
PLAYDLL_API int32_t playdll_list_samples(const playdll_list* list);

/* A PCM WAV file (1 or 2 channels of 8 or 16 bits) as a wave to hand over in
 * place: its format as WriteWaveMemo takes it and one list per channel
 * (BlkInLstR holds no entry for a mono file). */
typedef struct playdll_wav {
  int32_t FmtBits;
  int32_t FmtChannal;
  int32_t FmtFriq;
  int32_t WaveNos;
  playdll_list* BlkInLstL;
  playdll_list* BlkInLstR;
} playdll_wav;

/* Reads the header of `path` and fills *wav; PLAYDLL_ERROR_SETUP with the
 * reason when the file cannot be read in place. Release with
 * playdll_wav_close. */
PLAYDLL_API int playdll_wav_open(const char* path, playdll_wav* wav);
PLAYDLL_API void playdll_wav_close(playdll_wav* wav);

#ifdef __cplusplus
}
#endif

#endif /* PLAYDLL_H */
