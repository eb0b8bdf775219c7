"""The remote control end to end: PyVISA (pyvisa-py) and pymeasure clients
drive the real railmon against the recording fake, whose call log shows
that each command took the panel's own path.

    remote_test.py BUILD_DIR commands|limits|panel|protection
"""
import os
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from railmon_remote import Railmon, free_port, open_visa  # noqa: E402

build = os.path.abspath(sys.argv[1])
group = sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def errors(inst):
    """Every queued error, oldest first, the queue left empty."""
    found = []
    while True:
        entry = inst.query("SYST:ERR?")
        if entry.startswith("0,"):
            return found
        found.append(entry)


def done(inst, command):
    """The command, once railmon has run it (its log is then complete)."""
    assert inst.query(command + ";*OPC?") == "1"


def calls_after(railmon, seen):
    return railmon.call_log()[seen:]


def commands():
    with Railmon(build) as railmon:
        inst = open_visa(railmon.resource())
        idn = inst.query("*IDN?")
        check(idn == "railmon,FAKE PW-A,0,0.1", "*IDN?: " + idn)
        check(inst.query("*TST?") == "0", "*TST?")

        # Channel selection is the client's own.
        check(inst.query("INST:NSEL?") == "1", "selection starts at 1")
        check(inst.query("INST:CAT?") == '"P18V","N18V","P6V","N6V"', "INST:CAT?")
        check(inst.query("INST:CAT:FULL?") == '"P18V",1,"N18V",2,"P6V",3,"N6V",4', "INST:CAT:FULL?")
        check(inst.query("SYST:CHAN:COUN?") == "4", "SYST:CHAN:COUN?")
        inst.write("INST P6V")
        check(inst.query("INST:NSEL?;:INST?") == "3;P6V", "INST P6V selects 3")
        inst.write("INST:NSEL 5")
        check(errors(inst) == ['-222,"Data out of range"'], "INST:NSEL 5 refused")

        # A setpoint takes Set's path for its channel only: write, read back,
        # the current control's value written as Set writes it.
        seen = len(railmon.call_log())
        done(inst, "VOLT 5")
        check(inst.query("VOLT?") == "5.000", "VOLT? after VOLT 5")
        made = calls_after(railmon, seen)
        check(made[:3] == ["TMI_PresetQ 7", "TMI_Voltage 7 3 2 5", "TMI_VoltageQ 7 3 2"]
              and made[3].startswith("TMI_Current 7 3 2 ") and made[4] == "TMI_CurrentQ 7 3 2",
              "VOLT 5 as Set: %s" % made[:5])
        check(not [c for c in made if c.startswith(("TMI_Voltage 7 1", "TMI_Voltage 7 2", "TMI_Voltage 7 4"))],
              "VOLT wrote another channel: %s" % made)
        seen = len(railmon.call_log())
        for bad in ("VOLT 8.5", "VOLT 5,(@2)", "VOLT -1,(@1)", "VOLT 21,(@1)", "CURR 99,(@1)"):
            inst.write(bad)
            check(errors(inst) == ['-222,"Data out of range"'], bad + " refused")
        check(not [c for c in calls_after(railmon, seen) if c.startswith(("TMI_Voltage ", "TMI_Current "))],
              "a refused setpoint was written")
        check(inst.query("VOLT? MAX,(@1)") == "20.000", "VOLT? MAX,(@1)")
        check(inst.query("VOLT? MIN,(@2)") == "-20.000", "VOLT? MIN,(@2)")
        check(inst.query("VOLT? MAX,(@3:4)") == "8.000,0.000", "VOLT? MAX,(@3:4)")
        inst.write("VOLT -12.5,(@2);CURR 250 mA,(@2)")
        check(inst.query("VOLT? (@2);CURR? (@2)") == "-12.500;0.2500", "channel 2 set by list")
        inst.write("APPL CH1,9,0.45")
        check(inst.query("APPL? CH1") == "9.000,0.4500", "APPL? CH1")
        check(errors(inst) == [], "no error after the setpoints")

        # Readings: a fresh sweep with Read's calls, then the same numbers fetched.
        seen = len(railmon.call_log())
        volts = inst.query("MEAS:VOLT? (@1,3)").split(",")
        made = calls_after(railmon, seen)
        check(len(volts) == 2, "two readings: %s" % volts)
        check(made == ["TMI_TimeOut 7 1", "TMI_Refresh 7", "TMI_MoniDataQ 7 1", "TMI_TimeOut 7 1", "TMI_Refresh 7",
                       "TMI_MoniDataQ 7 3"], "MEAS as Read: %s" % made)
        check(inst.query("FETC:VOLT? (@1,3)").split(",") == volts, "FETC: the latest reading")
        check(len(railmon.call_log()) == seen + len(made), "FETC made no call")
        inst.query("MEAS:CURR? (@1:4)")
        check(inst.query("OUTP:MODE? (@1:4)") == "CV,CC,CV,CC", "OUTP:MODE?")
        check(inst.query("STAT:QUES:INST:ISUM2:COND?;:STAT:QUES:INST:ISUM1:COND?") == "1;2", "ISUM conditions")

        # The main output switch and its read-back.
        seen = len(railmon.call_log())
        done(inst, "OUTP ON")
        check(calls_after(railmon, seen) == ["TMI_MainOutput 7 1", "TMI_MainOutputQ 7"], "OUTP ON as the switch")
        check(inst.query("OUTP?") == "1", "OUTP? after ON")
        inst.write("OUTP OFF,(@1)")
        check(errors(inst)[0].startswith("-221,"), "OUTP with a channel list: settings conflict")

        # A channel's Enabled button: a disabled channel is no longer Set.
        inst.write("OUTP:CHAN OFF,(@4)")
        check(inst.query("OUTP:CHAN? (@3,4)") == "1,0", "OUTP:CHAN?")

        # Presets: the selector's recall.
        check(inst.query("MEM:NST?") == "4", "MEM:NST?")
        seen = len(railmon.call_log())
        done(inst, "*RCL 3")
        made = calls_after(railmon, seen)
        check(made[:2] == ["TMI_Preset 7 3", "TMI_VoltageQ 7 1 3"], "*RCL 3 as the selector: %s" % made[:2])
        inst.write("*RCL 5")
        check(errors(inst) == ['-222,"Data out of range"'], "*RCL 5 refused")
        # *SAV: the active preset (the fake's 2) as the supply reports it,
        # written into preset 4 with Set's calls and read back.
        seen = len(railmon.call_log())
        done(inst, "*SAV 4")
        made = calls_after(railmon, seen)
        held = {1: ("9", "0.45"), 2: ("-12.5", "0.25"), 3: ("5", None)}
        want = ["TMI_PresetQ 7"] + [q % ch for ch in range(1, 5) for q in ("TMI_VoltageQ 7 %d 2", "TMI_CurrentQ 7 %d 2")]
        check(made[:9] == want, "*SAV reads the active preset: %s" % made[:9])
        for ch in range(1, 5):
            calls = made[9 + 4 * (ch - 1):13 + 4 * (ch - 1)]
            volts, amps = held.get(ch, (None, None))
            check([c.rsplit(" ", 1)[0] if c.startswith(("TMI_Voltage ", "TMI_Current ")) else c for c in calls] ==
                  ["TMI_Voltage 7 %d 4" % ch, "TMI_VoltageQ 7 %d 4" % ch, "TMI_Current 7 %d 4" % ch,
                   "TMI_CurrentQ 7 %d 4" % ch], "*SAV writes channel %d as Set: %s" % (ch, calls))
            check(volts is None or calls[0].endswith(" " + volts), "*SAV copies CH%d's voltage: %s" % (ch, calls))
            check(amps is None or calls[2].endswith(" " + amps), "*SAV copies CH%d's current: %s" % (ch, calls))
        check(errors(inst) == [], "*SAV 4 raised no error")
        seen = len(railmon.call_log())
        inst.write("*SAV 0;*SAV 5")
        check(errors(inst) == ['-222,"Data out of range"'] * 2, "*SAV of a preset not offered refused")
        check(calls_after(railmon, seen) == [], "a refused *SAV made a call")

        # The error queue: several errors, read back oldest first.
        inst.write("BOGUS")
        inst.write("VOLT")
        inst.write("INST CH9")
        check(inst.query("SYST:ERR:COUN?") == "3", "three errors queued")
        check(errors(inst) == ['-113,"Undefined header"', '-109,"Missing parameter"',
                               '-224,"Illegal parameter value"'], "the queue, oldest first")

        # *RST: output off with its read-back, selection 1, queue cleared.
        inst.write("INST:NSEL 2;BOGUS")
        seen = len(railmon.call_log())
        done(inst, "*RST")
        check(calls_after(railmon, seen) == ["TMI_MainOutput 7 0", "TMI_MainOutputQ 7"], "*RST switches off")
        check(inst.query("INST:NSEL?;:SYST:ERR:COUN?") == "1;0", "*RST: selection 1, no error")

        # pymeasure's Instrument on the same resource, beside the first client.
        from pymeasure.adapters import VISAAdapter
        from pymeasure.instruments import Instrument
        adapter = VISAAdapter(railmon.resource(), visa_library="@py", read_termination="\n",
                              write_termination="\n")
        supply = Instrument(adapter, "railmon")
        check(supply.id.startswith("railmon,"), "pymeasure id: " + supply.id)
        check(supply.values("MEAS:VOLT? (@3)")[0] > 0, "pymeasure values")
        adapter.connection.close()
        inst.close()

    # A supply that delivers no reading and no current setpoint: not-a-number
    # and -230; *SAV then writes nothing rather than half a preset.
    with Railmon(build, env={"TMI_FAKE_MONI_FAIL": "1", "TMI_FAKE_SILENT": "TMI_CurrentQ"}) as railmon:
        inst = open_visa(railmon.resource())
        check(inst.query("MEAS:VOLT? (@1)") == "9.91E+37", "no reading answers 9.91E+37")
        check(errors(inst) == ['-230,"Data corrupt or stale"'], "no reading queues -230")
        check(inst.query("OUTP:MODE?") == "9.91E+37", "no mode without a reading")
        errors(inst)
        seen = len(railmon.call_log())
        done(inst, "*SAV 3")
        queued = errors(inst)
        check(queued == ['-230,"Data corrupt or stale;the supply reported no setpoint of CH +18V: nothing saved"'],
              "*SAV without the setpoints: -230: %s" % queued)
        check(not [c for c in calls_after(railmon, seen) if c.startswith(("TMI_Voltage ", "TMI_Current "))],
              "*SAV wrote part of a preset")
        inst.close()


def raw_client(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    return s


def read_all(s, limit=1 << 20):
    data = b""
    try:
        while len(data) < limit:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except (ConnectionResetError, socket.timeout):
        pass
    return data


def limits():
    with Railmon(build) as railmon:
        # Four clients and no more: the fifth reads why, then the end.
        four = [open_visa(railmon.resource()) for _ in range(4)]
        for inst in four:
            check(inst.query("*OPC?") == "1", "each of four clients answered")
        fifth = raw_client(railmon.port)
        refused = read_all(fifth)
        check(refused == b'-310,"System error;too many clients: 4 connected"\n', "fifth: %r" % refused)
        fifth.close()
        for inst in four:
            inst.close()
        # Their ends reach railmon as events of their own: the next client
        # comes once all four are gone, not while they still count.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and railmon.output().count(" disconnected") < 4:
            time.sleep(0.05)

        # An overlong line is dropped whole and reported; the next line runs.
        s = raw_client(railmon.port)
        s.sendall(b"VOLT " + b"1" * 9000 + b"\nSYST:ERR?\n")
        answer = s.makefile("rb").readline()
        check(answer == b'-363,"Input buffer overrun"\n', "overlong line: %r" % answer)
        s.close()

        # A client that never reads is cut off once 64 KiB of answers wait.
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.connect(("127.0.0.1", railmon.port))
        line = b";".join([b"INST:CAT:FULL?"] * 500) + b"\n"
        s.settimeout(0.5)
        sent = 0
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and "cut off" not in railmon.output():
            try:
                s.send(line)
                sent += 1
            except socket.timeout:
                pass
            except (BrokenPipeError, ConnectionResetError):
                break
        check("cut off: it left more than 64 KiB of answers unread" in railmon.output(),
              "a client that never reads is cut off (%d lines sent)" % sent)
        s.close()
        inst = open_visa(railmon.resource())
        check(inst.query("*OPC?") == "1", "railmon answers after cutting one off")
        inst.close()

        # Another user on the same computer is refused at once.
        if os.geteuid() == 0:
            probe = ("import socket; s = socket.create_connection(('127.0.0.1', %d), timeout=10); "
                     "s.sendall(b'*IDN?\\n'); print(repr(s.recv(100)))" % railmon.port)
            result = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                     "/usr/bin/python3", "-c", probe], capture_output=True, text=True, timeout=30)
            check(result.stdout.strip() in ("b''", ""), "another user got: %r %r" % (result.stdout, result.stderr))
            railmon.wait_for_output("user 65534: only this user and root may connect")
        else:
            print("SKIP: another user: needs root to run a client as another user")

    # A port another program holds: remote control stays off and says why.
    with socket.socket() as holder:
        holder.bind(("127.0.0.1", 0))
        holder.listen()
        port = holder.getsockname()[1]
        harness = os.path.join(build, "tests", "railmon_harness")
        script = "text:PANEL_STATUS_REMOTE;ctrl:PANEL_REMOTEONOFF;click:ExitCB"
        with Railmon(build, program=harness, port=port, wait=False, script=script) as railmon:
            check(railmon.wait_exit() == 0, "railmon runs on with the port in use")
            out = railmon.output()
            check("Remote control not started: port %d" % port in out, "port in use printed:\n" + out)
            check("TEXT PANEL_STATUS_REMOTE Remote off: port %d: " % port in out, "status says why:\n" + out)
            check("CTRL PANEL_REMOTEONOFF 0" in out, "the box stays off")


def panel():
    """The harness runs the real program and prints what the panel shows."""
    harness = os.path.join(build, "tests", "railmon_harness")
    # The steps are gated on files the test writes, so the panel is read
    # only once the script has done what it checks.
    gate = os.path.join(os.environ.get("TMPDIR", "/tmp"), "railmon-remote-gate-%d" % os.getpid())
    locked = ["PANEL_VSET1", "PANEL_ISET2", "PANEL_PRESET", "PANEL_ENABLE1", "PANEL_SET"]
    free = ["PANEL_MAINOUTPUT", "ExitCB", "PANEL_REMOTEONOFF"]
    script = ";".join(
        ["until:%s.1" % gate, "text:PANEL_STATUS_REMOTE"] +
        ["tip:" + c for c in ("PANEL_VSET3", "PANEL_MAINOUTPUT", "PANEL_PRESET", "PANEL_ENABLE4", "PANEL_VSET1")] +
        ["ctrl:PANEL_VSET3", "ctrl:PANEL_MAINOUTPUT", "ctrl:PANEL_PRESET"] +
        ["enabled:" + c for c in locked + free] +
        # A locked Enabled button does not take the operator's click.
        ["click:PANEL_ENABLE4", "ctrl:PANEL_ENABLE4",
         "until:%s.2" % gate] +
        ["enabled:" + c for c in locked] +
        # The operator's own change ends the remark.
        ["click:PANEL_ENABLE4", "tip:PANEL_ENABLE4", "ctrl:PANEL_ENABLE4", "text:PANEL_STATUS_REMOTE",
         "until:%s.3" % gate, "enabled:PANEL_VSET1", "wait:100",
         "click:PANEL_REMOTEONOFF", "wait:300", "text:PANEL_STATUS_REMOTE", "enabled:PANEL_SET", "tip:PANEL_SET",
         "until:%s.4" % gate,
         "click:PANEL_REMOTEONOFF", "wait:300", "text:PANEL_STATUS_REMOTE",
         "until:%s.5" % gate,
         "click:ExitCB"])

    def shown(out, line):
        return [l for l in out.splitlines() if l.startswith(line)]

    try:
        with Railmon(build, program=harness, script=script) as railmon:
            inst = open_visa(railmon.resource())
            inst.write("VOLT 5,(@3);:OUTP ON;*RCL 1;:OUTP:CHAN OFF,(@4);:SYST:RWL")
            check(inst.query("*OPC?") == "1", "the commands ran")
            open(gate + ".1", "w").close()
            railmon.wait_for_output("CTRL PANEL_ENABLE4")
            out = railmon.output()
            said = [l for l in out.splitlines() if l.startswith("Remote control: 127.0.0.1:") and l.endswith(" SYST:RWL")]
            peer = said[0].split()[2] if said else "(SYST:RWL not printed)"
            check("TEXT PANEL_STATUS_REMOTE Remote: 127.0.0.1:%d, 1 client, panel locked by %s, last SYST:RWL at "
                  % (railmon.port, peer) in out, "status line names the lock and its client:\n" + out)
            # (The setpoint fields have no tooltip of their own.)
            for control, own in (("PANEL_VSET3", ""), ("PANEL_MAINOUTPUT", "Switches all four outputs"),
                                 ("PANEL_PRESET", "Recalls a preset memory"), ("PANEL_ENABLE4", "Include this channel")):
                tip = shown(out, "TIP %s " % control)
                check(tip and "set remotely at " in tip[0] and own in tip[0],
                      "%s's tooltip says a script set it and keeps its own text: %s" % (control, tip))
            tip = shown(out, "TIP PANEL_VSET1 ")
            check(tip and "locked by remote client %s (SYST:RWL)" % peer in tip[0], "the lock's tooltip: %s" % tip)
            check("CTRL PANEL_MAINOUTPUT 1" in out, "the switch shows on")
            check("CTRL PANEL_PRESET 1" in out, "the selector shows the recalled preset")
            for control in locked:
                check("ENABLED %s 0" % control in out, "SYST:RWL locks " + control)
            for control in free:
                check("ENABLED %s 1" % control in out, "SYST:RWL leaves %s to the operator" % control)
            check("CTRL PANEL_ENABLE4 0" in out, "a locked button took a click")

            # SYST:LOC releases this client's lock; another's ends with its
            # disconnect.
            other = open_visa(railmon.resource())
            done(other, "SYST:RWL")
            done(inst, "SYST:LOC")
            other.close()
            railmon.wait_for_output("Remote control: panel released")
            open(gate + ".2", "w").close()
            railmon.wait_for_output("TEXT PANEL_STATUS_REMOTE", timeout=30)
            time.sleep(0.3)
            railmon.wait_for_output("CTRL PANEL_ENABLE4 1")
            out = railmon.output()
            for control in locked:
                check(out.count("ENABLED %s 1" % control) == 1, "SYST:LOC and a disconnect release " + control)
            tip = shown(out, "TIP PANEL_ENABLE4 ")[-1]
            check("set remotely" not in tip and "Include this channel" in tip, "the operator's click ends the remark: " + tip)

            # Remote off releases the lock and cuts the client off.
            done(inst, "SYST:RWL")
            open(gate + ".3", "w").close()
            railmon.wait_for_output("Remote control off")
            railmon.wait_for_output("TIP PANEL_SET")
            out = railmon.output()
            check(shown(out, "ENABLED PANEL_VSET1 ")[-1] == "ENABLED PANEL_VSET1 0", "SYST:RWL locks again")
            check(shown(out, "ENABLED PANEL_SET ")[-1] == "ENABLED PANEL_SET 1", "Remote off releases the lock")
            check("locked" not in shown(out, "TIP PANEL_SET ")[-1], "no lock in the tooltip after Remote off")
            try:
                inst.query("*IDN?")
                check(False, "a client still answered with Remote off")
            except Exception:
                pass
            inst.close()
            railmon.wait_for_output("TEXT PANEL_STATUS_REMOTE Remote off")
            open(gate + ".4", "w").close()
            railmon.wait_for_output("Remote control on 127.0.0.1:%d\n" % railmon.port)
            time.sleep(0.5)
            # Exit with a client connected hands the supply back as always.
            inst = open_visa(railmon.resource())
            check(inst.query("*OPC?") == "1", "a client after Remote on again")
            open(gate + ".5", "w").close()
            check(railmon.wait_exit() == 0, "Exit with a client connected: status")
            calls = railmon.call_log()
            check(calls[-2:] == ["TMI_RemoteLocal 7", "TMI_HandleClose 7"], "supply handed back: %s" % calls[-2:])
            inst.close()
    finally:
        for n in range(1, 6):
            if os.path.exists("%s.%d" % (gate, n)):
                os.remove("%s.%d" % (gate, n))


def protection():
    """A script arms protection on the simulated supply, whose 2 ohm load
    drives CH +6V into CC; the trip latches, OUTP ON is refused until
    OUTP:PROT:CLE, and the levels outlive a restart."""
    import tempfile
    config = tempfile.mkdtemp(prefix="railmon-config-")
    metrics = tempfile.mkdtemp(prefix="railmon-metrics-")
    env = {"XDG_CONFIG_HOME": config, "TMI_SIM_LOAD": "100,100,2,10", "TMI_SIM_NOISE": "0",
           "RAILMON_METRICS_DIR": metrics}
    with Railmon(build, library="sim", env=env) as railmon:
        inst = open_visa(railmon.resource())
        inst.write("VOLT:PROT 30,(@1)")
        check(errors(inst) == ['-222,"Data out of range"'], "a level beyond the channel's range is refused")
        done(inst, "VOLT:PROT MAX,(@3);:VOLT:PROT 17.5,(@2);:VOLT:PROT:STAT ON,(@2);:CURR:PROT 1.2,(@4)")
        check(inst.query("VOLT:PROT? (@1:4)") == "20.000,17.500,8.000,8.000", "VOLT:PROT?")
        check(inst.query("VOLT:PROT:STAT? (@1:4)") == "0,1,0,0", "VOLT:PROT:STAT?")
        check(inst.query("CURR:PROT? (@4)") == "1.200", "CURR:PROT?")
        done(inst, "OUTP ON;:CURR:PROT:MODE TRIP,(@3)")
        check(inst.query("CURR:PROT:MODE? (@1:4)") == "LIM,LIM,TRIP,LIM", "CURR:PROT:MODE?")
        check(inst.query("MEAS:CURR? (@3:4)").startswith("0.7500,"), "CH +6V limits its current (CC)")
        check(inst.query("OUTP?") == "0", "the CC reading switched the outputs off")
        check(inst.query("CURR:PROT:TRIP? (@1:4)") == "0,0,1,0", "CURR:PROT:TRIP? names CH +6V")
        check(inst.query("VOLT:PROT:TRIP? (@1:4)") == "0,0,0,0", "VOLT:PROT:TRIP?")
        inst.write("OUTP ON")
        refused = errors(inst)
        check(len(refused) == 1 and refused[0].startswith('-221,"Settings conflict;Tripped: CH +6V in CC at 0.7500 A at '),
              "OUTP ON while tripped: %s" % refused)
        check(inst.query("OUTP?") == "0", "OUTP ON while tripped left the outputs off")
        check("Tripped: CH +6V in CC at 0.7500 A at " in railmon.output(), "stdout says what tripped")
        deadline = time.monotonic() + 5
        prom = ""
        while time.monotonic() < deadline and 'railmon_protection_tripped{channel="CH +6V",model="PW-A 18/6 quad (simulated)"} 1' not in prom:
            time.sleep(0.2)
            if os.path.exists(os.path.join(metrics, "railmon.prom")):
                with open(os.path.join(metrics, "railmon.prom")) as f:
                    prom = f.read()
        check('railmon_protection_tripped{channel="CH +6V",model="PW-A 18/6 quad (simulated)"} 1' in prom
              and 'railmon_protection_voltage_level_volts{channel="CH -18V",model="PW-A 18/6 quad (simulated)"} 17.5'
              in prom and 'railmon_protection_voltage_level_volts{channel="CH +18V"' not in prom,
              "the export's protection:\n" + prom)
        # Cleared by the script; the outputs stay off until switched on.
        done(inst, "OUTP:PROT:CLE")
        check(inst.query("OUTP?;:CURR:PROT:TRIP? (@3)") == "0;0", "OUTP:PROT:CLE leaves the outputs off")
        done(inst, "CURR:PROT:MODE LIM,(@3);:OUTP ON")
        check(inst.query("OUTP?") == "1", "OUTP ON once cleared")
        # A disabled channel is not watched.
        done(inst, "OUTP:CHAN OFF,(@3);:CURR:PROT:MODE TRIP,(@3)")
        inst.query("MEAS:CURR? (@3)")
        check(inst.query("OUTP?;:CURR:PROT:TRIP? (@3)") == "1;0", "a disabled channel tripped")
        check(errors(inst) == [], "no error left")
        inst.close()
    with Railmon(build, library="sim", env=env) as railmon:
        inst = open_visa(railmon.resource())
        check(inst.query("CURR:PROT:MODE? (@3);:VOLT:PROT? (@2);:VOLT:PROT:STAT? (@2);:CURR:PROT:TRIP? (@3)")
              == "TRIP;17.500;1;0", "the levels outlived the restart, the trip did not")
        inst.close()
    import shutil
    shutil.rmtree(config, ignore_errors=True)
    shutil.rmtree(metrics, ignore_errors=True)


{"commands": commands, "limits": limits, "panel": panel, "protection": protection}[group]()
if failures:
    print("%d failed" % len(failures))
    sys.exit(1)
print("remote %s: all checks passed" % group)
