"""playdll.Server: the Player's methods over a playsrv child process
(JSON-RPC 2.0 on its standard input and output, one message per line)."""

import json
import os
import select
import shutil
import subprocess

from playdll._library import Error, Event


def _playsrv_path():
    """PLAYSRV, else the playsrv installed with this package (bin/), else PATH."""
    if os.environ.get("PLAYSRV"):
        return os.environ["PLAYSRV"]
    here = os.path.dirname(os.path.abspath(__file__))
    beside = os.path.normpath(os.path.join(here, "..", "..", "..", "..", "bin", "playsrv"))
    return beside if os.path.exists(beside) else (shutil.which("playsrv") or "playsrv")


class Server:
    """The play object in a playsrv process. Options as Player's (they become
    playsrv's command line); program: the playsrv to start. Events raised by
    a call reach on_event (on the calling thread) before the call returns;
    events between calls when the next call or events() reads them.
    Error.status is the JSON-RPC error code."""

    def __init__(self, output=None, engines=None, simulate=False, latency_ms=0, log_level=None, log_file=None,
                 on_event=None, program=None):
        args = [program or _playsrv_path()]
        for flag, value in (("--output", output), ("--engines", engines), ("--log-level", log_level),
                            ("--log-file", log_file), ("--latency-ms", latency_ms or None)):
            if value is not None:
                args += [flag, str(value)]
        if simulate:
            args.append("--simulate")
        self._process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
        self._buffer = b""  # what was read of the output beyond the last whole line
        self._handler = on_event
        self._waiting = []  # events read while no handler was set
        self._next_id = 0
        self._released = False

    # ---- lifetime
    def close(self, timeout=10):
        """Releases the object unless released, ends the input, waits for the
        process (killed after `timeout` seconds) and returns its exit status."""
        if not self._process.stdin.closed:
            if not self._released and self._process.poll() is None:
                try:
                    self.Release()
                except Error:
                    pass  # the server ended meanwhile: there is nothing left to release
            self._process.stdin.close()
            for line in iter(lambda: self._read_line(None), None):
                self._take(json.loads(line))
        try:
            return self._process.wait(timeout)
        except subprocess.TimeoutExpired:
            self._process.kill()
            return self._process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # ---- events
    def on_event(self, handler):
        """Calls handler(Event) for every event, the waiting ones first; None:
        events wait for events()."""
        self._handler = handler
        waiting, self._waiting = self._waiting, []
        for e in waiting:
            self._deliver(e)

    def events(self, timeout=0.0):
        """Yields the waiting events; when none waits, waits up to `timeout`
        seconds (None: without limit) for the server to write one."""
        while True:
            while self._waiting:
                yield self._waiting.pop(0)
            line = self._read_line(timeout)
            if line is None:
                return
            self._take(json.loads(line))

    def _read_line(self, timeout):
        """The next line of the server's output; None at its end or when
        `timeout` seconds (None: no limit) pass without one."""
        fd = self._process.stdout.fileno()
        while b"\n" not in self._buffer:
            if not select.select([fd], [], [], timeout)[0]:
                return None
            chunk = os.read(fd, 65536)
            if not chunk:
                return None
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line

    def _deliver(self, event):
        if self._handler is None:
            self._waiting.append(event)
        else:
            self._handler(event)

    def _take(self, message):
        """A notification becomes an event; returns the message otherwise."""
        method = message.get("method")
        if method == "MsgBoxOb":
            self._deliver(Event("MsgBoxOb", message["params"]["Msg"], message["params"]["Ttl"]))
        elif method == "MessageBox":
            self._deliver(Event("MessageBox", message["params"]["text"], ""))
        else:
            return message
        return None

    def _call(self, method, params=None):
        self._next_id += 1
        request = {"jsonrpc": "2.0", "id": self._next_id, "method": method}
        if params is not None:
            request["params"] = params
        self._process.stdin.write((json.dumps(request) + "\n").encode())
        self._process.stdin.flush()
        while True:
            line = self._read_line(None)
            if line is None:
                raise Error(-32000, "playsrv ended (status %s)" % self._process.wait())
            answer = self._take(json.loads(line))
            if answer is not None and answer.get("id") == self._next_id:
                break
        if "error" in answer:
            raise Error(answer["error"]["code"], answer["error"]["message"])
        return answer["result"]

    # ---- the members of _PlayDllClass
    def DxObj(self, MFrmHwnd):
        return self._call("DxObj", {"MFrmHwnd": MFrmHwnd})["MFrmHwnd"]

    def PlayCurrentPosition(self):
        return self._call("PlayCurrentPosition")

    def PlayAgain(self):
        self._call("PlayAgain")

    def PlayAgainRev(self):
        self._call("PlayAgainRev")

    def PlayRunningDx7State(self):
        return self._call("PlayRunningDx7State")

    def PlayUTurn(self):
        self._call("PlayUTurn")

    def PlayAtPos(self, Pos):
        self._call("PlayAtPos", {"Pos": Pos})

    def PlayAtPosRev(self, Pos):
        self._call("PlayAtPosRev", {"Pos": Pos})

    def ReleaseFiles(self):
        self._call("ReleaseFiles")

    def StopPlay(self):
        self._call("StopPlay")

    def PlayContinue(self):
        self._call("PlayContinue")

    def UpdatePlayPosition(self):
        self._call("UpdatePlayPosition")

    def PlayPause(self):
        self._call("PlayPause")

    def WriteWaveMemo(self, FmtBits, FmtChannal, FmtFriq, WaveNos, BlkInLstL, BlkInLstR=None):
        lists = {"BlkInLstL": BlkInLstL, "BlkInLstR": BlkInLstR}
        params = {"FmtBits": FmtBits, "FmtChannal": FmtChannal, "FmtFriq": FmtFriq, "WaveNos": WaveNos}
        for name, items in lists.items():
            if items is not None:
                params[name] = list(getattr(items, "elements", items))
        self._call("WriteWaveMemo", params)

    def MemorySizeToUse(self, value):
        self._call("MemorySizeToUse", {"value": value})

    def LoopPlayON(self, value):
        self._call("LoopPlayON", {"value": bool(value)})

    def PlayTempoFor(self, value):
        self._call("PlayTempoFor", {"value": value})

    def PlayTempoRev(self, value):
        self._call("PlayTempoRev", {"value": value})

    def AppTmpDir(self, value):
        self._call("AppTmpDir", {"value": value})

    def Release(self):
        self._call("Release")
        self._released = True

    def AdvanceTime(self, ms):
        """Lets ms of play time pass (at once under simulate); the loop's time in ms."""
        return self._call("AdvanceTime", {"ms": ms})["now_ms"]
