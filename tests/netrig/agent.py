#!/usr/bin/env python3
"""Linux side of the network rig: the adapters behind the stand-in management service.

Runs inside the client network namespace and answers one JSON line per TCP connection on
127.0.0.1 (the stand-in provider inside Wine asks it). Reads come from the kernel (ip -j);
methods change the kernel: addresses, default routes, the namespace's resolv.conf, and a real
DHCP client (udhcpc) per adapter in DHCP mode. What Windows keeps in its registry and the
kernel cannot hold (DHCP on or off, the configured DNS servers, a static gateway while the
adapter has no address) is kept here.

  agent.py serve --port P --state DIR [--lifetime S] [--dhcp IF]... [--dns IF=A,B]... [--gateway IF=G]...
  agent.py ctl --port P JSON          one request (faults, state, quit); prints the answer

A fault: {"op": "fault", "on": "adapters"|"method"|METHOD|"any", "adapter": IFNAME (optional),
"answer": ANSWER, "count": N (default 1)}; ANSWER is "close", "garbage", "hresult:0x8004xxxx",
"return:N" (a method answers N and changes nothing; "return:null" answers no value), "hold:SECONDS"
(the answer comes that much later, as from a busy service), or, on "adapters", an object
{"name": PROPERTY, "vt": "VT_...", "value": JSON} that the stand-in hands out as that property of
every adapter, typed as said (a service that breaks its own schema). On "Terminate" a fault stops
the stand-in from ending the process: "return:N" is the method's answer. On "processes" (asked at
each query of Win32_Process) the answer is such an object for every process, or {"keys": false}:
the objects of a selection lack the key Handle, which only their paths name.
"""
import argparse
import ipaddress
import json
import os
import re
import signal
import socket
import subprocess
import sys
import time

# Return codes of the adapter methods, as Microsoft documents them.
OK = 0
NOT_SUPPORTED = 64
INVALID_SUBNET_MASK = 66
INVALID_INPUT = 68
GATEWAYS_LIMIT = 69
INVALID_IP_ADDRESS = 70
INVALID_GATEWAY = 71
UNABLE_TO_CONFIGURE_DHCP = 81
NOT_FOUND = "0x80041002"
INVALID_PARAMETER = "0x80041008"

STATIC_METRIC_DEFAULT = 1
DHCP_ROUTE_METRIC = 100
DOTTED = re.compile(r"^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$")

UDHCPC_SCRIPT = r"""#!/bin/sh
# udhcpc event hook of the rig: the lease goes onto the interface, its options into the agent's
# state folder (NETRIG_STATE), so that a read sees both.
lease="$NETRIG_STATE/lease-$interface"
case "$1" in
  deconfig)
    ip -4 addr flush dev "$interface"
    rm -f "$lease"
    ;;
  bound|renew)
    ip -4 addr flush dev "$interface"
    ip addr add "$ip/$mask" dev "$interface"
    for r in $router; do
      ip route append default via "$r" dev "$interface" proto dhcp metric %d
    done
    printf 'dns=%%s\nserverid=%%s\nip=%%s\n' "$dns" "$serverid" "$ip" >"$lease.tmp"
    mv "$lease.tmp" "$lease"
    ;;
esac
exit 0
""" % DHCP_ROUTE_METRIC


def run(*args, check=True):
    return subprocess.run(list(args), capture_output=True, text=True, check=check, timeout=10)


def ip_json(*args):
    out = run("ip", "-j", *args).stdout.strip()
    return json.loads(out) if out else []


def dotted(text):
    """The four octets of a strict dotted-quad IPv4 text, or None."""
    if not isinstance(text, str):
        return None
    m = DOTTED.match(text)
    if not m:
        return None
    octets = [int(g) for g in m.groups()]
    return octets if all(o <= 255 for o in octets) else None


def usable_address(text):
    """A unicast host address: not 0.x, loopback, multicast or reserved, not broadcast."""
    octets = dotted(text)
    return octets is not None and octets[0] not in (0, 127) and octets[0] < 224


def mask_prefix(text):
    """The prefix length of a contiguous, non-empty subnet mask, or None."""
    octets = dotted(text)
    if octets is None:
        return None
    bits = "".join(f"{o:08b}" for o in octets)
    return None if "01" in bits or "1" not in bits else bits.count("1")


def string_list(value):
    return isinstance(value, list) and all(isinstance(v, str) for v in value)


class Adapter:
    """What Windows keeps in its registry for one adapter."""

    def __init__(self, name):
        self.name = name
        self.dhcp = False
        self.client = None  # the udhcpc process while DHCP is on
        self.dns = None  # configured servers; None: none configured
        self.gateways = []  # configured static gateways: (address, metric)


class Agent:
    def __init__(self, state, resolv):
        self.state = state
        self.resolv = resolv
        self.adapters = {}
        self.faults = []
        self.leases_seen = None
        self.script = os.path.join(state, "udhcpc.sh")
        with open(self.script, "w") as f:
            f.write(UDHCPC_SCRIPT)
        os.chmod(self.script, 0o755)
        self.log = open(os.path.join(state, "agent.log"), "a", buffering=1)

    # ------------------------------------------------------------------ the kernel's view

    def links(self):
        links = [l for l in ip_json("addr", "show") if l.get("ifname") != "lo"]
        links.sort(key=lambda l: l["ifindex"])
        for l in links:
            self.adapters.setdefault(l["ifname"], Adapter(l["ifname"]))
        return links

    def default_routes(self, family):
        routes = ip_json(family, "route", "show", "default")
        return [r for r in routes if r.get("gateway")]

    def lease(self, name):
        path = os.path.join(self.state, "lease-" + name)
        try:
            with open(path) as f:
                return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        except OSError:
            return {}

    def install_gateways(self, a):
        """Puts configured static gateways the kernel lacks back (it drops them with the address)."""
        present = {(r["gateway"], r.get("metric", 0)) for r in self.default_routes("-4")
                   if r.get("dev") == a.name and r.get("protocol") == "static"}
        for gw, metric in a.gateways:
            if (gw, metric) not in present:
                run("ip", "route", "append", "default", "via", gw, "dev", a.name, "proto", "static",
                    "metric", str(metric), "onlink", check=False)

    def read(self):
        links = self.links()
        for l in links:
            self.install_gateways(self.adapters[l["ifname"]])
        v4 = self.default_routes("-4")
        v6 = self.default_routes("-6")
        hostname = socket.gethostname()
        out = []
        for l in links:
            a = self.adapters[l["ifname"]]
            infos = l.get("addr_info", [])
            inet = [i for i in infos if i["family"] == "inet"]
            # Windows lists IPv4 first, then IPv6 (global before link-local), prefix lengths as masks.
            inet6 = sorted((i for i in infos if i["family"] == "inet6"), key=lambda i: i.get("scope") == "link")
            addresses = [i["local"] for i in inet] or ["0.0.0.0"]
            masks = [str(ipaddress.IPv4Network(f"0.0.0.0/{i['prefixlen']}").netmask) for i in inet] or ["0.0.0.0"]
            addresses += [i["local"] for i in inet6]
            masks += [str(i["prefixlen"]) for i in inet6]
            mine4 = sorted((r for r in v4 if r.get("dev") == a.name), key=lambda r: r.get("metric", 0))
            static = [(r["gateway"], r.get("metric", 0)) for r in mine4 if r.get("protocol") == "static"]
            # Configured but not in force: the kernel drops a gateway with the adapter's last address.
            static += [(g, m) for g, m in a.gateways if g not in {s[0] for s in static}]
            pairs = static + [(r["gateway"], r.get("metric", 0)) for r in mine4 if r.get("protocol") != "static"]
            gateways = [g for g, _ in pairs]
            metrics = [m for _, m in pairs]
            gateways += [r["gateway"] for r in v6 if r.get("dev") == a.name]
            lease = self.lease(a.name) if a.dhcp else {}
            dns = a.dns if a.dns is not None else (lease.get("dns", "").split() or None)
            out.append({
                "Index": l["ifindex"], "InterfaceIndex": l["ifindex"],
                "Description": a.name, "Caption": f"[{l['ifindex']:08d}] {a.name}",
                "ServiceName": "veth", "SettingID": "{00000000-0000-0000-0000-%012X}" % l["ifindex"],
                "MACAddress": l.get("address", "").upper(), "IPEnabled": True, "DHCPEnabled": a.dhcp,
                "IPAddress": addresses, "IPSubnet": masks,
                "DefaultIPGateway": gateways or None, "GatewayCostMetric": metrics or None,
                "DNSServerSearchOrder": dns, "DHCPServer": lease.get("serverid") or None,
                "DNSHostName": hostname, "IPConnectionMetric": 25,
            })
        return out

    # ------------------------------------------------------------------ changing it

    def write_resolv(self):
        lines = ["# the DNS servers in force, adapter by adapter (network rig)\n"]
        for l in self.links():
            a = self.adapters[l["ifname"]]
            dns = a.dns if a.dns is not None else (self.lease(a.name).get("dns", "").split() if a.dhcp else [])
            lines += [f"nameserver {s}  # {a.name}\n" for s in dns]
        # In place: `ip netns exec` bind-mounts this file, a rename would not be seen.
        with open(self.resolv, "r+" if os.path.exists(self.resolv) else "w") as f:
            f.seek(0)
            f.write("".join(lines))
            f.truncate()

    def leases_changed(self):
        """True once per change of a DHCP adapter's lease (a new one, a renewal, one lost)."""
        seen = {a.name: tuple(sorted(self.lease(a.name).items())) for a in self.adapters.values() if a.dhcp}
        changed = seen != self.leases_seen
        self.leases_seen = seen
        return changed

    def follow_leases(self):
        # Windows puts the servers of a lease in force when it arrives, not at the next method call.
        if self.leases_changed():
            self.write_resolv()
            self.log.write(f"{time.time():.3f} leases changed: resolver rewritten\n")

    def stop_client(self, a):
        if a.client is not None:
            a.client.terminate()
            try:
                a.client.wait(5)
            except subprocess.TimeoutExpired:
                a.client.kill()
                a.client.wait()
            a.client = None
        try:
            os.remove(os.path.join(self.state, "lease-" + a.name))
        except OSError:
            pass
        run("ip", "route", "flush", "dev", a.name, "proto", "dhcp", check=False)

    def start_client(self, a):
        env = dict(os.environ, NETRIG_STATE=self.state)
        log = open(os.path.join(self.state, f"udhcpc-{a.name}.log"), "a")
        a.client = subprocess.Popen(
            ["udhcpc", "-f", "-i", a.name, "-s", self.script, "-t", "3", "-T", "1", "-A", "1"],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, env=env)

    def enable_static(self, a, p):
        addresses, masks = p.get("IPAddress"), p.get("SubnetMask")
        if not string_list(addresses) or not string_list(masks) or not addresses:
            return INVALID_INPUT
        if not all(usable_address(x) for x in addresses):
            return INVALID_IP_ADDRESS
        prefixes = [mask_prefix(m) for m in masks]
        if len(masks) != len(addresses) or None in prefixes:
            return INVALID_SUBNET_MASK
        was_static = not a.dhcp
        self.stop_client(a)
        a.dhcp = False
        run("ip", "-4", "addr", "flush", "dev", a.name)
        for x, prefix in zip(addresses, prefixes):
            run("ip", "addr", "add", f"{x}/{prefix}", "dev", a.name)
        self.install_gateways(a)
        self.write_resolv()
        # Microsoft: it "returns an 81 - Unable to configure DHCP service if the adapter is already
        # configured with a static address. However, the function still succeeds".
        return UNABLE_TO_CONFIGURE_DHCP if was_static else OK

    def set_gateways(self, a, p):
        gateways = p.get("DefaultIPGateway")
        metrics = p.get("GatewayCostMetric")
        if not string_list(gateways):
            return INVALID_INPUT
        if metrics is None:
            metrics = [STATIC_METRIC_DEFAULT] * len(gateways)
        if (not isinstance(metrics, list) or len(metrics) != len(gateways)
                or not all(isinstance(m, int) and 1 <= m <= 9999 for m in metrics)):
            return INVALID_INPUT
        if len(gateways) > 5:
            return GATEWAYS_LIMIT
        # Microsoft: 64 is "Method not supported when the NIC is in DHCP mode".
        if a.dhcp:
            return NOT_SUPPORTED
        # Microsoft: "To clear the gateways, set the gateway to the same IP used on EnableStatic."
        # An empty entry removes it too, as the adapter's property page does with an empty field.
        own = {i["local"] for l in self.links() if l["ifname"] == a.name
               for i in l.get("addr_info", []) if i["family"] == "inet"}
        wanted = [(g, m) for g, m in zip(gateways, metrics) if g != "" and g not in own]
        if not all(usable_address(g) for g, _ in wanted):
            return INVALID_GATEWAY
        run("ip", "route", "flush", "dev", a.name, "proto", "static", check=False)
        a.gateways = wanted
        self.install_gateways(a)
        return OK

    def set_dns(self, a, p):
        servers = p.get("DNSServerSearchOrder")
        if servers is not None and not string_list(servers):
            return INVALID_INPUT
        if servers and not all(usable_address(s) for s in servers):
            return INVALID_IP_ADDRESS
        a.dns = list(servers) if servers else None
        self.write_resolv()
        return OK

    def enable_dhcp(self, a, _):
        if a.dhcp and a.client is not None and a.client.poll() is None:
            return OK  # keeps its lease
        # Microsoft: "This method does not clear any static default gateway present on the computer."
        self.stop_client(a)
        run("ip", "-4", "addr", "flush", "dev", a.name)
        a.dhcp = True
        self.start_client(a)
        self.write_resolv()
        return OK

    METHODS = {"EnableStatic": enable_static, "SetGateways": set_gateways,
               "SetDNSServerSearchOrder": set_dns, "EnableDHCP": enable_dhcp}

    def method(self, req):
        links = {l["ifindex"]: l["ifname"] for l in self.links()}
        name = links.get(req.get("Index"))
        if name is None:
            return {"ok": False, "hresult": NOT_FOUND}
        fn = self.METHODS.get(req.get("method"))
        params = req.get("params")
        if fn is None or not isinstance(params, dict):
            return {"ok": False, "hresult": INVALID_PARAMETER}
        return {"ok": True, "ReturnValue": fn(self, self.adapters[name], params)}

    # ------------------------------------------------------------------ requests

    def fault_for(self, op, req):
        method = req.get("method") if op in ("method", "terminate") else None
        adapter = None
        if op == "method":
            adapter = {l["ifindex"]: l["ifname"] for l in self.links()}.get(req.get("Index"))
        for f in self.faults:
            if f["count"] <= 0 or f["on"] not in (op, method, "any"):
                continue
            if f.get("adapter") not in (None, adapter):
                continue
            f["count"] -= 1
            return f["answer"]
        return None

    def answer(self, req):
        op = req.get("op")
        self.follow_leases()
        if op in ("adapters", "method", "terminate"):
            fault = self.fault_for(op, req)
            if isinstance(fault, dict) and op == "adapters":
                return {"ok": True, "adapters": self.read(), "retype": fault}
            fault = fault if isinstance(fault, str) else None
            if fault == "close":
                return None
            if fault == "garbage":
                return "this is not JSON"
            if fault and fault.startswith("hresult:"):
                return {"ok": False, "hresult": fault.split(":", 1)[1]}
            if fault and fault.startswith("return:") and op != "adapters":
                value = fault.split(":", 1)[1]
                return {"ok": True, "ReturnValue": None if value == "null" else int(value)}
            if fault and fault.startswith("hold:"):
                self.log.write(f"{time.time():.3f} holding the answer {fault[5:]} s\n")
                time.sleep(float(fault.split(":", 1)[1]))
            if op == "adapters":
                return {"ok": True, "adapters": self.read()}
            if op == "terminate":
                return {"ok": True}
            return self.method(req)
        if op == "processes":
            fault = self.fault_for(op, req)
            return {"ok": True, "fault": fault} if isinstance(fault, dict) else {"ok": True}
        if op == "fault":
            self.faults.append({"on": req["on"], "answer": req["answer"], "count": int(req.get("count", 1)),
                                "adapter": req.get("adapter")})
            return {"ok": True}
        if op == "state":
            return {"ok": True, "adapters": {n: {"dhcp": a.dhcp, "client": a.client.pid if a.client else None,
                                                  "dns": a.dns, "gateways": a.gateways}
                                              for n, a in self.adapters.items()}}
        if op == "quit":
            return {"ok": True, "quit": True}
        return {"ok": False, "hresult": INVALID_PARAMETER}

    def shutdown(self):
        for a in self.adapters.values():
            self.stop_client(a)


def read_line(conn, limit=1 << 20):
    data = b""
    while not data.endswith(b"\n"):
        chunk = conn.recv(65536)
        if not chunk:
            break
        data += chunk
        if len(data) > limit:
            raise ValueError("request too long")
    return data.decode("utf-8")


def serve(args):
    os.makedirs(args.state, exist_ok=True)
    agent = Agent(args.state, args.resolv)
    # The starting configuration, given by the rig as the adapters' settings from before.
    agent.links()
    for entry in args.dns:
        name, servers = entry.split("=", 1)
        agent.adapters[name].dns = servers.split(",")
    for entry in args.gateway:
        name, gw = entry.split("=", 1)
        agent.adapters[name].gateways = [(gw, STATIC_METRIC_DEFAULT)]
        agent.install_gateways(agent.adapters[name])
    for name in args.dhcp:
        agent.enable_dhcp(agent.adapters[name], {})
    agent.write_resolv()

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", args.port))
    srv.listen(8)
    srv.settimeout(0.1)
    deadline = time.monotonic() + args.lifetime
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    print(f"agent: listening on 127.0.0.1:{args.port}", flush=True)
    try:
        while not stop and time.monotonic() < deadline:
            agent.follow_leases()
            try:
                conn, _ = srv.accept()
            except socket.timeout:
                continue
            with conn:
                conn.settimeout(10.0)
                try:
                    line = read_line(conn)
                    req = json.loads(line)
                    ans = agent.answer(req) if isinstance(req, dict) else {"ok": False, "hresult": INVALID_PARAMETER}
                except (ValueError, OSError, subprocess.SubprocessError) as e:
                    line, ans = locals().get("line", ""), {"ok": False, "hresult": "0x80041001", "error": str(e)}
                text = ans if isinstance(ans, str) or ans is None else json.dumps(ans)
                agent.log.write(f"{time.time():.3f} <- {line.strip()}\n{time.time():.3f} -> {text}\n")
                if text is not None:
                    try:
                        conn.sendall((text + "\n").encode("utf-8"))
                    except OSError:
                        pass
                if isinstance(ans, dict) and ans.get("quit"):
                    break
    finally:
        agent.shutdown()
        srv.close()
    return 0


def ctl(args):
    with socket.create_connection(("127.0.0.1", args.port), timeout=10) as s:
        s.sendall((args.request + "\n").encode("utf-8"))
        print(read_line(s).strip())
    return 0


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="cmd", required=True)
    s = sub.add_parser("serve")
    s.add_argument("--port", type=int, required=True)
    s.add_argument("--state", required=True)
    s.add_argument("--resolv", default="/etc/resolv.conf")
    s.add_argument("--lifetime", type=float, default=1200)
    s.add_argument("--dhcp", action="append", default=[])
    s.add_argument("--dns", action="append", default=[])
    s.add_argument("--gateway", action="append", default=[])
    c = sub.add_parser("ctl")
    c.add_argument("--port", type=int, required=True)
    c.add_argument("request")
    args = p.parse_args()
    return serve(args) if args.cmd == "serve" else ctl(args)


if __name__ == "__main__":
    sys.exit(main())
