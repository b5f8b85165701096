"""playdll: the playback object of playsrv for Python hosts.

Player     the object in-process, over libplaydll (ctypes).
Server     the same methods over a playsrv child process (JSON-RPC), for
           hosts that want the playback in a process of its own.
HostList   the block-list builder; wav_in_place() a WAV file as a wave.
Error      what every failure raises (.status: the C status for a Player,
           the JSON-RPC error code for a Server).

Members keep the interface's names and argument order: DxObj(MFrmHwnd)
returns the new MFrmHwnd, PlayCurrentPosition() and PlayRunningDx7State()
return integers, the write-only properties are methods taking the value
(LoopPlayON(True)). Sample positions count from 1. Events come to the
on_event callable (for a Player on the library's thread "playdll-events",
for a Server on the calling thread, the reports of a call before it
returns) or, without one, from events(). Both classes are context managers
that release the object and end what they started.
"""

from playdll._library import (ERROR_ARGUMENT, ERROR_IN_CALLBACK, ERROR_RELEASED, ERROR_RUNTIME, ERROR_SETUP, OK,
                              Error, Event, HostList, Player, Wave, wav_in_place)
from playdll._server import Server

__all__ = ["Error", "Event", "HostList", "Player", "Server", "Wave", "wav_in_place", "OK", "ERROR_RUNTIME",
           "ERROR_ARGUMENT", "ERROR_RELEASED", "ERROR_IN_CALLBACK", "ERROR_SETUP"]
