"""The ctypes binding of libplaydll (playdll.h)."""

import collections
import ctypes
import os
import select

Event = collections.namedtuple("Event", "kind msg ttl")
Event.__doc__ = "kind: 'MsgBoxOb' or 'MessageBox'; msg and ttl as raised ('' for a message box's ttl)."

_KINDS = {1: "MsgBoxOb", 2: "MessageBox"}

# The statuses of playdll.h.
OK = 0
ERROR_RUNTIME = -1
ERROR_ARGUMENT = -2
ERROR_RELEASED = -3
ERROR_IN_CALLBACK = -4
ERROR_SETUP = -5


class Error(Exception):
    """A failed call: status (negative) and the library's or server's text."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


def _library_path():
    """PLAYDLL_LIBRARY, else the library installed beside this package (lib/),
    else the loader's search."""
    if os.environ.get("PLAYDLL_LIBRARY"):
        return os.environ["PLAYDLL_LIBRARY"]
    here = os.path.dirname(os.path.abspath(__file__))
    beside = os.path.normpath(os.path.join(here, "..", "..", "..", "libplaydll.so.1"))
    return beside if os.path.exists(beside) else "libplaydll.so.1"


class _Options(ctypes.Structure):
    _fields_ = [("output", ctypes.c_char_p), ("engines", ctypes.c_char_p), ("simulate", ctypes.c_int),
                ("latency_ms", ctypes.c_int), ("sound_service", ctypes.c_char_p), ("log_level", ctypes.c_char_p),
                ("log_file", ctypes.c_char_p)]


class _Event(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int), ("Msg", ctypes.c_char_p), ("Ttl", ctypes.c_char_p)]


class _Wav(ctypes.Structure):
    _fields_ = [("FmtBits", ctypes.c_int32), ("FmtChannal", ctypes.c_int32), ("FmtFriq", ctypes.c_int32),
                ("WaveNos", ctypes.c_int32), ("BlkInLstL", ctypes.c_void_p), ("BlkInLstR", ctypes.c_void_p)]


_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(_Event))
_P = ctypes.c_void_p
_I32 = ctypes.c_int32
_INT = ctypes.c_int
_I32P = ctypes.POINTER(ctypes.c_int32)
_STR = ctypes.c_char_p

_lib = ctypes.CDLL(_library_path())
for _name, _res, _args in [
        ("playdll_last_error", _STR, []),
        ("playdll_create", _P, [ctypes.POINTER(_Options)]),
        ("playdll_destroy", _INT, [_P]),
        ("playdll_set_event_callback", _INT, [_P, _CALLBACK, _P]),
        ("playdll_event_fd", _INT, [_P]),
        ("playdll_take_event", _INT, [_P, ctypes.POINTER(_Event)]),
        ("playdll_DxObj", _INT, [_P, _I32P]),
        ("playdll_PlayCurrentPosition", _INT, [_P, _I32P]),
        ("playdll_PlayRunningDx7State", _INT, [_P, _I32P]),
        ("playdll_PlayAtPos", _INT, [_P, _I32]),
        ("playdll_PlayAtPosRev", _INT, [_P, _I32]),
        ("playdll_WriteWaveMemo", _INT, [_P, _I32, _I32, _I32, _I32, _I32P, ctypes.c_size_t, _I32P, ctypes.c_size_t]),
        ("playdll_MemorySizeToUse", _INT, [_P, _I32]),
        ("playdll_LoopPlayON", _INT, [_P, _INT]),
        ("playdll_PlayTempoFor", _INT, [_P, ctypes.c_float]),
        ("playdll_PlayTempoRev", _INT, [_P, ctypes.c_float]),
        ("playdll_AppTmpDir", _INT, [_P, _STR]),
        ("playdll_advance_time", _INT, [_P, _I32, ctypes.POINTER(ctypes.c_int64)]),
        ("playdll_list_create", _P, [_STR]),
        ("playdll_list_destroy", None, [_P]),
        ("playdll_list_add_block_file", _INT, [_P, _STR, _I32, _I32]),
        ("playdll_list_add_wav_file", _INT, [_P, _STR, _I32, _I32, _I32, _I32]),
        ("playdll_list_add_silence", _INT, [_P, _I32]),
        ("playdll_list_data", _I32P, [_P]),
        ("playdll_list_size", ctypes.c_size_t, [_P]),
        ("playdll_list_samples", _I32, [_P]),
        ("playdll_wav_open", _INT, [_STR, ctypes.POINTER(_Wav)]),
        ("playdll_wav_close", None, [ctypes.POINTER(_Wav)])] + [
        ("playdll_" + m, _INT, [_P]) for m in ("PlayAgain", "PlayAgainRev", "PlayUTurn", "ReleaseFiles", "StopPlay",
                                                "PlayContinue", "UpdatePlayPosition", "PlayPause", "Release")]:
    _fn = getattr(_lib, _name)
    _fn.restype, _fn.argtypes = _res, _args


def _check(status):
    if status != OK:
        raise Error(status, _lib.playdll_last_error().decode("utf-8", "replace"))


def _bytes(text, what):
    """A str or bytes as the C string the library takes (NUL ends a C string)."""
    data = os.fsencode(text) if isinstance(text, str) else bytes(text)
    if b"\0" in data:
        raise ValueError(what + " holds a NUL byte")
    return data


def _text(data):
    return data.decode("utf-8", "surrogateescape") if data is not None else ""


def _elements(items):
    """A block list (a HostList or a sequence of ints) as a C array and its count."""
    items = items.elements if isinstance(items, HostList) else list(items or [])
    return (ctypes.c_int32 * len(items))(*items), len(items)


class HostList:
    """The block-list builder: entries appended by name and numbers, StartPos
    worked out (the first sample is position 1). A refused entry raises Error
    naming the list and the entry, and leaves the list as it was."""

    def __init__(self, name="block list", _adopt=None):
        self._list = _adopt or _lib.playdll_list_create(_bytes(name, "the list's name"))
        if not self._list:
            raise Error(ERROR_SETUP, _lib.playdll_last_error().decode("utf-8", "replace"))

    def __del__(self):
        if getattr(self, "_list", None):
            _lib.playdll_list_destroy(self._list)
            self._list = None

    def add_block_file(self, path, length, file_pos=1):
        _check(_lib.playdll_list_add_block_file(self._list, _bytes(path, "the path"), length, file_pos))
        return self

    def add_wav_file(self, path, length, file_pos, channels, bits):
        _check(_lib.playdll_list_add_wav_file(self._list, _bytes(path, "the path"), length, file_pos, channels, bits))
        return self

    def add_silence(self, length):
        _check(_lib.playdll_list_add_silence(self._list, length))
        return self

    @property
    def elements(self):
        """The list as WriteWaveMemo takes it (item 0: the entry count)."""
        return _lib.playdll_list_data(self._list)[:_lib.playdll_list_size(self._list)]

    @property
    def samples(self):
        return _lib.playdll_list_samples(self._list)


Wave = collections.namedtuple("Wave", "FmtBits FmtChannal FmtFriq WaveNos BlkInLstL BlkInLstR")


def wav_in_place(path):
    """A PCM WAV file (1 or 2 channels of 8 or 16 bits) as a Wave whose lists
    read it in place (BlkInLstR holds no entry for a mono file)."""
    w = _Wav()
    _check(_lib.playdll_wav_open(_bytes(path, "the path"), ctypes.byref(w)))
    left, right = HostList(_adopt=w.BlkInLstL), HostList(_adopt=w.BlkInLstR)
    return Wave(w.FmtBits, w.FmtChannal, w.FmtFriq, w.WaveNos, left.elements, right.elements)


class Player:
    """The play object in-process. Options as playsrv's command line:
    output ('device', 'wav:PATH', 'device,wav:PATH', ...), engines
    ('dx9,dx7,waveout'), simulate (virtual clock, moved by AdvanceTime),
    latency_ms, sound_service (path of libsoundservice.so), log_level,
    log_file."""

    def __init__(self, output=None, engines=None, simulate=False, latency_ms=0, sound_service=None,
                 log_level=None, log_file=None, on_event=None):
        enc = lambda s: None if s is None else _bytes(s, "an option")
        options = _Options(enc(output), enc(engines), 1 if simulate else 0, latency_ms, enc(sound_service),
                           enc(log_level), enc(log_file))
        self._handle = _lib.playdll_create(ctypes.byref(options))
        if not self._handle:
            raise Error(ERROR_SETUP, _lib.playdll_last_error().decode("utf-8", "replace"))
        self._callbacks = []  # every callback given, kept alive: one may still be running
        if on_event is not None:
            self.on_event(on_event)

    # ---- lifetime
    def close(self):
        """Releases the object unless released (its reports reach the
        callback) and frees the handle. Not from inside the callback."""
        if getattr(self, "_handle", None):
            _check(_lib.playdll_destroy(self._handle))
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # at the interpreter's end the library may be gone already
            pass

    # ---- events
    def on_event(self, handler):
        """Calls handler(Event) for every event, on the thread "playdll-events";
        None sends them back to events()."""
        if handler is None:
            _check(_lib.playdll_set_event_callback(self._handle, _CALLBACK(), None))
            return
        def deliver(_user, e):
            try:
                handler(Event(_KINDS[e.contents.kind], _text(e.contents.Msg), _text(e.contents.Ttl)))
            except Exception:  # nothing may unwind into the library's thread
                pass
        callback = _CALLBACK(deliver)
        self._callbacks.append(callback)
        _check(_lib.playdll_set_event_callback(self._handle, callback, None))

    def events(self, timeout=0.0):
        """Yields the waiting events; when none waits, waits up to `timeout`
        seconds (None: without limit) for the next, and ends when none came."""
        fd = _lib.playdll_event_fd(self._handle)
        e = _Event()
        while True:
            got = _lib.playdll_take_event(self._handle, ctypes.byref(e))
            if got < 0:
                _check(got)
            if got == 1:
                yield Event(_KINDS[e.kind], _text(e.Msg), _text(e.Ttl))
                continue
            if not select.select([fd], [], [], timeout)[0]:
                return

    # ---- the members of _PlayDllClass
    def _get(self, fn):
        value = ctypes.c_int32()
        _check(fn(self._handle, ctypes.byref(value)))
        return value.value

    def DxObj(self, MFrmHwnd):
        value = ctypes.c_int32(MFrmHwnd)
        _check(_lib.playdll_DxObj(self._handle, ctypes.byref(value)))
        return value.value

    def PlayCurrentPosition(self):
        return self._get(_lib.playdll_PlayCurrentPosition)

    def PlayAgain(self):
        _check(_lib.playdll_PlayAgain(self._handle))

    def PlayAgainRev(self):
        _check(_lib.playdll_PlayAgainRev(self._handle))

    def PlayRunningDx7State(self):
        return self._get(_lib.playdll_PlayRunningDx7State)

    def PlayUTurn(self):
        _check(_lib.playdll_PlayUTurn(self._handle))

    def PlayAtPos(self, Pos):
        _check(_lib.playdll_PlayAtPos(self._handle, Pos))

    def PlayAtPosRev(self, Pos):
        _check(_lib.playdll_PlayAtPosRev(self._handle, Pos))

    def ReleaseFiles(self):
        _check(_lib.playdll_ReleaseFiles(self._handle))

    def StopPlay(self):
        _check(_lib.playdll_StopPlay(self._handle))

    def PlayContinue(self):
        _check(_lib.playdll_PlayContinue(self._handle))

    def UpdatePlayPosition(self):
        _check(_lib.playdll_UpdatePlayPosition(self._handle))

    def PlayPause(self):
        _check(_lib.playdll_PlayPause(self._handle))

    def WriteWaveMemo(self, FmtBits, FmtChannal, FmtFriq, WaveNos, BlkInLstL, BlkInLstR=None):
        left, nl = _elements(BlkInLstL)
        right, nr = _elements(BlkInLstR)
        _check(_lib.playdll_WriteWaveMemo(self._handle, FmtBits, FmtChannal, FmtFriq, WaveNos, left, nl, right, nr))

    def MemorySizeToUse(self, value):
        _check(_lib.playdll_MemorySizeToUse(self._handle, value))

    def LoopPlayON(self, value):
        _check(_lib.playdll_LoopPlayON(self._handle, 1 if value else 0))

    def PlayTempoFor(self, value):
        _check(_lib.playdll_PlayTempoFor(self._handle, value))

    def PlayTempoRev(self, value):
        _check(_lib.playdll_PlayTempoRev(self._handle, value))

    def AppTmpDir(self, value):
        _check(_lib.playdll_AppTmpDir(self._handle, _bytes(value, "AppTmpDir")))

    def Release(self):
        _check(_lib.playdll_Release(self._handle))

    def AdvanceTime(self, ms):
        """Lets ms of play time pass (at once under simulate); the loop's time in ms."""
        now = ctypes.c_int64()
        _check(_lib.playdll_advance_time(self._handle, ms, ctypes.byref(now)))
        return now.value
