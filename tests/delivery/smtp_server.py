# A mail server for the delivery tests, on loopback: aiosmtpd with STARTTLS, TLS from the first
# byte or none, and AUTH. Every message it takes is kept as a file in the given folder.
# Arguments: MODE (starttls, tls, none) PORT FOLDER CERT KEY USER PASSWORD
import asyncio
import os
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

mode, port, folder, cert, key, user, password = sys.argv[1:8]


class Keeper:
    async def handle_DATA(self, server, session, envelope):
        count = len([n for n in os.listdir(folder) if n.endswith(".eml")])
        path = os.path.join(folder, "%03d.eml" % count)
        with open(path + ".part", "wb") as out:
            out.write(envelope.original_content)
        os.rename(path + ".part", path)
        return "250 Message accepted"


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == user
          and auth_data.password.decode() == password)
    return AuthResult(success=ok, handled=False)


context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(cert, key)
options = dict(authenticator=authenticate, auth_require_tls=mode != "none", data_size_limit=0)
if mode == "starttls":
    options.update(tls_context=context, require_starttls=True)
controller = Controller(Keeper(), hostname="127.0.0.1", port=int(port),
                        ssl_context=context if mode == "tls" else None, **options)
controller.start()
print("READY", flush=True)
sys.stdin.read()
controller.stop()
