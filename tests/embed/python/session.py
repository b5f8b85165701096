"""Runs a scripted session through the Python package and prints what each
call gave: one JSON list of {"method", "result", "reports"} on stdout.

usage: session.py SCRIPT.json OUTPUT ENGINES
SCRIPT.json: a list of [method, [positional arguments]].
"""

import json
import sys

import playdll


def report_text(e):
    if e.kind == "MessageBox":
        return "box: " + e.msg
    return e.ttl if e.msg == "S2" else e.msg + "|" + e.ttl


def main(script_path, output, engines):
    with open(script_path) as f:
        script = json.load(f)
    raised = []
    transcript = []
    with playdll.Player(output=output, engines=engines, simulate=True,
                        on_event=lambda e: raised.append(report_text(e))) as p:
        for method, args in script:
            result = getattr(p, method)(*args)
            transcript.append({"method": method, "result": result, "reports": raised[:]})
            raised.clear()
    print(json.dumps(transcript))


if __name__ == "__main__":
    main(*sys.argv[1:])
