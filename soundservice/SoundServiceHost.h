#ifndef SOUNDSERVICE_SOUNDSERVICEHOST_H
#define SOUNDSERVICE_SOUNDSERVICEHOST_H
/*
 * The C interface of the sound service library (libsoundservice.so).
 *
 * The library owns looping sound buffers of two equal halves and plays them on
 * the server's audio output. It keeps no clock and no device of its own: the
 * loading program hands it a host (ServiceBindHost) that tells the time,
 * receives the frames that sounded and keeps the library's log lines. Every instance keeps the host that was
 * bound when Service02 created it; the host's context must stay valid until
 * the instance is released with Service03.
 *
 * Timing is lazy: at every entry an instance first works out, from the host's
 * clock, which frames have sounded since its last entry, hands exactly those
 * frames to the host's output (reading the buffer as it stood before the
 * entry changes anything), and updates its half flags, position and end mark.
 * Under a manual clock everything is exact and repeatable.
 *
 * Sample data are interleaved 16-bit signed PCM, left first. Byte counts and
 * offsets are in bytes of the buffer; positions in frames unless named bytes.
 * Calls are serialised inside the library; the host's functions are called on
 * the calling thread, inside the entry, and must not call back into the
 * library. No entry lets an exception out.
 *
 * Errors: an entry that fails says why on the host's log (the entry's name
 * and the reason, one line) and gives its failure result; the entries without
 * a result (Service03, Service05, Service08) only log. An output call that
 * fails (status 0) fails the entry that made it: the host logs the output's
 * own reason, the library what the entry could not do.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Levels of the host's log, most severe first. */
enum {
  SOUND_SERVICE_LOG_ERROR = 0,
  SOUND_SERVICE_LOG_WARNING = 1,
  SOUND_SERVICE_LOG_INFO = 2,
  SOUND_SERVICE_LOG_DEBUG = 3
};

/* The program's clock, audio output and log, as the library reaches them.
 * The output calls return 1 when done and 0 when the output failed. */
typedef struct SoundServiceHost {
  void* context;
  /* The host's clock, microseconds, never going backwards. */
  int64_t (*nowUs)(void* context);
  /* Non-zero when there is an output to play on (else Service02 fails, and
   * the entries that play, write or read the position fail: the output's
   * device went away). */
  int32_t (*outputAvailable)(void* context);
  /* The output starts sounding `channels` channels at `rate` frames/s. An
   * output that plays ahead of the clock (a sound card) calls pump(pumpArg)
   * regularly, on the calling thread, until outputStop or the next
   * outputStart, so that the library hands over what sounded in between.
   * On 0 the output is not sounding and the pump is not in use. */
  int32_t (*outputStart)(void* context, int32_t channels, int32_t rate, void (*pump)(void* pumpArg), void* pumpArg);
  /* `frameCount` frames sounded, the first of them at host time `atUs`. */
  int32_t (*outputPlay)(void* context, const int16_t* frames, int64_t frameCount, int64_t atUs);
  /* The output stopped sounding. */
  int32_t (*outputStop)(void* context);
  /* One line of text (no newline) for the host's log at `level`
   * (SOUND_SERVICE_LOG_...): why an entry failed, or at the debug level
   * what an instance did (made, started, stopped, its end sounded). */
  void (*log)(void* context, int32_t level, const char* text);
} SoundServiceHost;

/* Binds the host for the instances that Service02 creates from now on, and
 * for the log lines of entries that name no instance.
 * Returns 1, or 0 (and unbinds) when `host` or one of its functions is null. */
int32_t ServiceBindHost(const SoundServiceHost* host);

/* Creates a stopped instance with a silent buffer of `bufferBytes` bytes
 * (two halves of whole frames) for `channels` (1 or 2) channels of 16-bit
 * samples at `friq` frames/s (100 to 100000, checked before anything is
 * allocated); `bytesPer100Ms` is the byte count of one
 * 100-millisecond step of the end mark. A non-zero `oldHandle` is released
 * first. Returns the new handle, or 0 when the arguments are bad, no host is
 * bound or the host has no output. `windowHandle` is not used. */
int32_t Service02(int32_t oldHandle, int32_t windowHandle, int32_t channels, int32_t friq, int32_t bufferBytes,
                  int32_t bytesPer100Ms);

/* Stops and releases an instance; unknown handles are ignored. */
void Service03(int32_t handle);

/* mode 1: plays from byte 0 with passes 0; half 2 counts as just played and
 * any end-played state is cleared. mode 0: resumes where Service05 held it
 * (or changes the rate of a playing buffer). `rate` in frames/s (100 to 100000).
 * Returns 1 when playing, 0 for a bad handle or argument. */
int32_t Service04(int32_t handle, int32_t mode, int32_t rate);

/* Stops playing; the position holds, a later mode-0 start resumes there. */
void Service05(int32_t handle);

/* Copies `byteCount` bytes from `data` to byte `byteOffset` of the buffer
 * (within the buffer, whole frames). `endHalf` 1 or 2 sets the end mark in
 * that half for its next time of sounding: the half's start + `endTicks` x
 * the 100-ms byte count, or the half's end for `endTicks` -1; a mark beyond
 * the half's end is taken as the half's end. `endHalf` 0 sets no mark and
 * drops a mark that lay in the bytes written. Once the mark has sounded the
 * end-played flag is set, and from then on the instance plays silence and
 * holds its position until the next mode-1 start. Returns 1 when written. */
int32_t Service06(int32_t handle, const int16_t* data, int32_t byteCount, int32_t byteOffset, int32_t endHalf,
                  int32_t endTicks);

/* Passes through the whole buffer and byte position within it since the
 * last mode-1 start. Returns non-zero when the outs are valid. */
int32_t Service07(int32_t handle, int32_t* passes, int32_t* bytePos);

/* Reports and clears the flags: half 2 played, half 1 played, end played.
 * `playing` is 1 while the buffer plays (the engine does not read it). Each out is non-zero when set; a
 * null out is skipped; an unknown handle gives zeros. */
void Service08(int32_t handle, int32_t* refillHalf2, int32_t* refillHalf1, int32_t* playing, int32_t* endPlayed);

#ifdef __cplusplus
}
#endif

#endif /* SOUNDSERVICE_SOUNDSERVICEHOST_H */
