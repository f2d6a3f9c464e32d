#!/usr/bin/python3
"""A recording SMTP server for the mail tests.

Listens on a free loopback port, prints "ready <port>" on standard output once it accepts
connections, and records every message it accepts into the record directory before it answers
the end of data: <n>.json holds the envelope and the session (greeting, authenticated user),
<n>.eml the raw message as received (dot-transparency undone), <n>.part<k> the decoded bytes
of each MIME part. Runs until it is terminated.
"""

import argparse
import asyncio
import email
import email.policy
import json
import os
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Recorder:
    def __init__(self, options):
        self.options = options
        self.count = 0

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        filler = [f"250-X-FILLER-{i:04d} {'x' * 40}" for i in range(self.options.long_ehlo)]
        return responses[:-1] + filler + responses[-1:]

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.options.refuse:
            return "550 5.1.1 Recipient refused"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.options.stall_data:
            await asyncio.Event().wait()  # never answers the end of data
        self.count += 1
        base = os.path.join(self.options.record_dir, str(self.count))
        content = envelope.original_content
        parts = []
        message = email.message_from_bytes(content, policy=email.policy.compat32)
        for k, part in enumerate(message.walk() if message.is_multipart() else [message]):
            if part.is_multipart():
                continue
            data = part.get_payload(decode=True) or b""
            name = f"{base}.part{k}"
            with open(name, "wb") as f:
                f.write(data)
            parts.append({"content_type": part.get_content_type(),
                          "filename": part.get_filename() or "",
                          "file": name})
        with open(base + ".eml", "wb") as f:
            f.write(content)
        record = {
            "greeting": "EHLO" if session.extended_smtp else "HELO",
            "helo_name": session.host_name or "",
            "auth_user": (session.auth_data.login.decode("utf-8", "replace")
                          if isinstance(session.auth_data, LoginPassword) else ""),
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "eml": base + ".eml",
            "parts": parts,
        }
        with open(base + ".tmp", "w") as f:
            json.dump(record, f)
        os.rename(base + ".tmp", base + ".json")
        return "250 Message accepted"


def main():
    warnings.filterwarnings("ignore", message="Session.login_data is deprecated")
    parser = argparse.ArgumentParser()
    parser.add_argument("--record-dir", required=True)
    parser.add_argument("--user", default="alice")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--stall-data", action="store_true")
    parser.add_argument("--long-ehlo", type=int, default=0)
    options = parser.parse_args()

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == options.user.encode()
              and auth_data.password == options.password.encode())
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    recorder = Recorder(options)
    factory = lambda: SMTP(recorder, hostname="mail.test", authenticator=authenticate,
                           auth_require_tls=False, loop=loop)
    server = loop.run_until_complete(loop.create_server(factory, host="127.0.0.1", port=0))
    print(f"ready {server.sockets[0].getsockname()[1]}", flush=True)
    loop.run_forever()


if __name__ == "__main__":
    sys.exit(main())
