"""The Python package: the builder's refusals, events by callback and by
iterator, errors as exceptions, the context managers, and Server's methods
beside Player's. Run by `make test` with Debian's python3-pytest."""

import inspect

import pytest

import playdll

MAX = 2**31 - 1


# Every refusal and its text is the C library's (HostListTest); here, that
# one reaches Python as an Error with its status and text, the list kept.
def test_the_builder_refuses_a_bad_entry_with_its_message_and_keeps_the_list():
    hosts = playdll.HostList("left channel").add_silence(100)
    before = hosts.elements
    with pytest.raises(playdll.Error) as refused:
        hosts.add_silence(MAX - 99)
    message = ("left channel, entry 2 (silence): its last sample would lie at position 2147483648, beyond the "
               "2147483647 positions a channel counts")
    assert (refused.value.status, str(refused.value)) == (playdll.ERROR_ARGUMENT, message)
    assert hosts.elements == before


def test_a_name_holding_a_nul_byte_is_refused_before_it_reaches_the_library():
    with pytest.raises(ValueError, match="NUL"):
        playdll.HostList().add_block_file("/a\0b", 10)


def test_a_calls_reports_reach_the_callback_before_the_call_returns():
    seen = []
    with playdll.Player(simulate=True, on_event=seen.append) as p:
        p.PlayAgain()
        assert seen == [playdll.Event("MsgBoxOb", "S2", "Play Again - Failed"),
                        playdll.Event("MsgBoxOb", "Not ready", 'Do "Play New" first')]


def test_without_a_callback_the_events_iterator_yields_what_waits_and_ends():
    with playdll.Player(simulate=True) as p:
        p.PlayContinue()
        p.PlayUTurn()
        assert [e.ttl for e in p.events()] == ["Nothing to Continue", "Driver is Off", "U-Turn Failed"]


def test_leaving_the_with_block_releases_the_object_and_delivers_its_reports():
    seen = []
    with playdll.Player(simulate=True, on_event=seen.append) as p:
        assert p.DxObj(1) == 1
    assert [e.ttl for e in seen] == ["Stopped", "Driver is Off"]
    with pytest.raises(playdll.Error):
        p.PlayAgain()


def test_a_member_after_release_raises_the_released_status_naming_it():
    with playdll.Player(simulate=True) as p:
        p.Release()
        with pytest.raises(playdll.Error) as refused:
            p.PlayPause()
    assert refused.value.status == playdll.ERROR_RELEASED
    assert str(refused.value) == "PlayPause: the object has been released"


def public_methods(cls):
    return {name for name, _ in inspect.getmembers(cls, inspect.isfunction) if not name.startswith("_")}


def test_server_has_the_methods_of_player():
    assert public_methods(playdll.Server) == public_methods(playdll.Player)


def test_a_server_calls_reports_reach_the_callback_before_the_call_returns_and_close_ends_it():
    seen = []
    server = playdll.Server(simulate=True, on_event=seen.append)
    server.PlayAgain()
    assert [e.ttl for e in seen] == ["Play Again - Failed", 'Do "Play New" first']
    assert server.close() == 0
    assert [e.ttl for e in seen[2:]] == ["Driver is Off"]


def test_a_server_error_raises_the_json_rpc_code_and_message():
    with playdll.Server(simulate=True) as server:
        with pytest.raises(playdll.Error) as refused:
            server.AdvanceTime(-1)
    assert (refused.value.status, str(refused.value)) == (-32602, 'Invalid params: "ms" must lie between 0 and 3600000')
