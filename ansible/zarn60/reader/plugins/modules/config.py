#!/usr/bin/python3
# Makes the ZARN60 reader of a host hold a configuration, through zarn60 apply.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: config
short_description: Configure a ZARN60 card reader
description:
  - Makes the ZARN60 reader attached to the host hold the given configuration, by running
    C(zarn60 apply) on the host. The reader is read first and written only when one of the
    fields it reports differs; it is then read back and checked.
  - In check mode the reader is only read (C(zarn60 apply --dry-run)); C(changed) then says
    that it would be written, and nothing is sent to it.
  - With C(--diff) the fields that change are shown before and after.
  - A missing reader, a link failure, a refused or unverified write and a configuration
    with an unknown field or a bad value fail the host with zarn60's one-line message; a
    bad configuration fails before the reader is asked.
version_added: "2.7.0"
options:
  config:
    description:
      - The configuration as named fields, as in a JSON document of zarn60 (see
        C(zarn60 schema) or zarn60(1)). Fields it does not name keep the reader's values.
      - Exactly one of C(config) and C(src) is given.
    type: dict
  src:
    description:
      - A C(.cfg) or C(.json) configuration file on the host.
      - Exactly one of C(config) and C(src) is given.
    type: path
  link:
    description:
      - How the host reaches its reader, as zarn60's link options C(--usb), C(--usb NODE),
        C(--com N) or C(--port PATH) (also written C(--port=PATH)). Set it per host in the
        inventory.
      - It is taken as data, never as options. N is a number from 1 to 200, and NODE and
        PATH are neither empty nor start with C(-) nor hold a control character; anything
        else fails the host before zarn60 runs.
    type: str
    default: --usb
  force:
    description:
      - Write even when the reader already holds the configuration.
    type: bool
    default: false
  zarn60:
    description:
      - The zarn60 program on the host.
    type: path
    default: zarn60
requirements:
  - zarn60 on the host
notes:
  - usb_speed and usb_hid_mode are sent with every write but the reader does not report
    them, so they alone never make the module write; use C(force).
author:
  - ZARN TOOLS maintainers
"""

EXAMPLES = r"""
- name: Every till's reader beeps and ends a card with CR
  zarn60.reader.config:
    config:
      beep: true
      packet_terminator: cr
    link: "{{ reader_link | default('--usb') }}"

- name: A reader on a serial adapter from a file kept on the host
  zarn60.reader.config:
    src: /etc/zarn60/till.json
    link: --port /dev/ttyUSB0
"""

RETURN = r"""
changes:
  description: The fields written (or, in check mode, that would be), with their values
    before and after.
  returned: success
  type: list
  elements: dict
  sample: [{"field": "beep", "from": true, "to": false}]
not_carried:
  description: Named read-only fields whose values the reader does not hold afterwards.
  returned: success
  type: list
  elements: str
link:
  description: The link zarn60 used, as it names it.
  returned: success
  type: str
  sample: COM3 (/dev/ttyS2)
"""

import json
import shlex

from ansible.module_utils.basic import AnsibleModule

LINK_OPTIONS = ("--usb", "--com", "--port")
PORT_COUNT = 200


def is_plain(text):
    """A device path or node as data: not empty, not an option, no control character."""
    return (bool(text) and not text.startswith("-")
            and not any(ord(c) < 0x20 or ord(c) == 0x7F for c in text))


def link_arguments(module, link):
    """The link as one zarn60 argument, its value joined to its option (--port=PATH), so
    that no part of it can be taken for an option of its own."""
    try:
        words = shlex.split(link or "")
    except ValueError as e:
        module.fail_json(msg="link: %s" % e)
    # --com=3 and --com 3 alike.
    if len(words) == 1 and "=" in words[0]:
        words = words[0].split("=", 1)
    usage = "link: give --usb, --usb NODE, --com N or --port PATH, not %r" % link
    if not words or words[0] not in LINK_OPTIONS or len(words) > 2:
        module.fail_json(msg=usage)
    option = words[0]
    if option == "--usb" and len(words) == 1:
        return ["--usb"]
    if len(words) != 2:
        module.fail_json(msg="link: %s needs a value" % option)
    value = words[1]
    if option == "--com":
        if not (value.isdigit() and value.isascii() and 1 <= int(value) <= PORT_COUNT):
            module.fail_json(msg="link: --com %r: COM numbers go from 1 to %d"
                             % (value, PORT_COUNT))
    elif not is_plain(value):
        module.fail_json(msg="link: %s %r: not a %s" % (
            option, value, "device path" if option == "--port" else "hidraw node"))
    return ["%s=%s" % (option, value)]


def file_argument(path):
    """A file name that zarn60 cannot take for an option or for standard input."""
    return "./" + path if path.startswith("-") else path


def main():
    module = AnsibleModule(
        argument_spec=dict(
            config=dict(type="dict"),
            src=dict(type="path"),
            link=dict(type="str", default="--usb"),
            force=dict(type="bool", default=False),
            zarn60=dict(type="path", default="zarn60"),
        ),
        mutually_exclusive=[("config", "src")],
        required_one_of=[("config", "src")],
        supports_check_mode=True,
    )
    p = module.params
    program = module.get_bin_path(p["zarn60"], required=False) or p["zarn60"]
    argv = [program, "apply"]
    data = None
    if p["config"] is not None:
        argv += ["-", "--format", "json"]
        data = json.dumps(p["config"])
    else:
        argv.append(file_argument(p["src"]))
    argv += link_arguments(module, p["link"]) + ["--json"]
    if module.check_mode:
        argv.append("--dry-run")
    if p["force"]:
        argv.append("--force")

    rc, out, err = module.run_command(argv, data=data, binary_data=True)
    if rc != 0:
        lines = [line for line in err.splitlines() if line.strip()]
        module.fail_json(msg=lines[-1] if lines else "zarn60 apply ended with exit code %d" % rc,
                         rc=rc, stderr=err, stdout=out, cmd=argv)
    try:
        report = json.loads(out)
    except ValueError:
        module.fail_json(msg="zarn60 apply printed no JSON report", rc=rc, stdout=out,
                         stderr=err, cmd=argv)

    # zarn60's own word on whether it wrote: a report that disagrees with what was asked
    # is never taken for a write (or for a dry run).
    if not isinstance(report, dict) or report.get("dry_run") is not module.check_mode:
        module.fail_json(msg="zarn60 apply reported dry_run %r, asked for %r"
                         % (report.get("dry_run") if isinstance(report, dict) else None,
                            module.check_mode),
                         rc=rc, stdout=out, stderr=err, cmd=argv)
    changes = report.get("changes", [])
    result = dict(
        changed=bool(report.get("changed")),
        changes=changes,
        not_carried=report.get("not_carried", []),
        link=report.get("link", ""),
    )
    if module._diff:
        result["diff"] = dict(
            before=dict((c["field"], c["from"]) for c in changes),
            after=dict((c["field"], c["to"]) for c in changes),
            before_header="%s (reader)" % result["link"],
            after_header="%s (wanted)" % result["link"],
        )
    module.exit_json(**result)


if __name__ == "__main__":
    main()
