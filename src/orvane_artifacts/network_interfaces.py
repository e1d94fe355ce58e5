"""TCP/IP interface settings: one record per interface GUID below
Services\\Tcpip\\Parameters\\Interfaces, DHCP and static addresses side by side."""

from __future__ import annotations

import re
from collections.abc import Iterator

from orvane_artifacts.binary import unix_time
from orvane_artifacts.control_sets import control_sets
from orvane_artifacts.framework import (
    BOOL, CONTROL_SET, KEY_LAST_WRITTEN, KEY_PATH, STR, STRS, SYSTEM, TIME, Context, Extractor, Field,
)
from orvane_artifacts.keys import Values, child, join, last_written, subkeys

INTERFACES = "Services\\Tcpip\\Parameters\\Interfaces"
_SEPARATORS = re.compile(r"[\s,]+")


def addresses(values: Values, name: str) -> list[str] | None:
    """A list of addresses from a REG_MULTI_SZ, or from a REG_SZ separated by
    spaces or commas (DNS servers); 0.0.0.0 placeholders and empties dropped."""
    found = values.strings(name)
    if found is None:
        return None
    out = [part for item in found for part in _SEPARATORS.split(item) if part and part != "0.0.0.0"]
    return out


def _extract(hive, context: Context) -> Iterator[dict]:
    for set_name, control_set in control_sets(hive, context):
        for key in subkeys(child(control_set, INTERFACES)):
            values = Values(key)
            yield {
                "control_set": set_name,
                "interface": key.name(),
                "dhcp_enabled": values.flag("EnableDHCP"),
                "ip_addresses": addresses(values, "IPAddress"),
                "subnet_masks": addresses(values, "SubnetMask"),
                "default_gateways": addresses(values, "DefaultGateway"),
                "name_servers": addresses(values, "NameServer"),
                "dhcp_ip_address": values.text("DhcpIPAddress"),
                "dhcp_subnet_mask": values.text("DhcpSubnetMask"),
                "dhcp_default_gateways": addresses(values, "DhcpDefaultGateway"),
                "dhcp_name_servers": addresses(values, "DhcpNameServer"),
                "dhcp_server": values.text("DhcpServer"),
                "lease_obtained": unix_time(values.number("LeaseObtainedTime")),
                "lease_terminates": unix_time(values.number("LeaseTerminatesTime")),
                "domain": values.text("Domain") or None,
                "dhcp_domain": values.text("DhcpDomain"),
                "key_path": join(set_name, INTERFACES, key.name()),
                "key_last_written": last_written(key),
            }


EXTRACTORS = (
    Extractor("network_interfaces", (SYSTEM,), "per network interface: DHCP and static addresses, DNS, lease", (
        CONTROL_SET,
        Field("interface", STR, "the interface GUID (the key name)"),
        Field("dhcp_enabled", BOOL, "EnableDHCP"),
        Field("ip_addresses", STRS, "static addresses (0.0.0.0 placeholders left out)"),
        Field("subnet_masks", STRS, "static subnet masks"),
        Field("default_gateways", STRS, "static default gateways"),
        Field("name_servers", STRS, "static DNS servers"),
        Field("dhcp_ip_address", STR, "address leased by DHCP"),
        Field("dhcp_subnet_mask", STR, "subnet mask given by DHCP"),
        Field("dhcp_default_gateways", STRS, "default gateways given by DHCP"),
        Field("dhcp_name_servers", STRS, "DNS servers given by DHCP"),
        Field("dhcp_server", STR, "the DHCP server"),
        Field("lease_obtained", TIME, "when the DHCP lease was obtained"),
        Field("lease_terminates", TIME, "when the DHCP lease ends"),
        Field("domain", STR, "the interface's static DNS domain"),
        Field("dhcp_domain", STR, "the DNS domain given by DHCP"),
        KEY_PATH, KEY_LAST_WRITTEN,
    ), _extract),
)
