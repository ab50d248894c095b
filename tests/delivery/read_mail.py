# Reads a kept message back as a mail reader would: prints its subject (decoded), whether it has
# Date and a well-formed Message-ID, the sender (decoded), the attachment's type and name, and
# saves the attachment.
# Arguments: MESSAGE ATTACHMENT_OUT
import email
import email.header
import email.policy
import re
import sys

with open(sys.argv[1], "rb") as source:
    message = email.message_from_binary_file(source, policy=email.policy.default)
print("subject:", str(message["Subject"]))
print("date:", "yes" if message["Date"] else "no")
print("message-id:", "yes" if re.fullmatch(r"<[^<>@\s]+@[^<>@\s]+>", str(message["Message-ID"] or "")) else "no")
print("from:", str(message["From"]))
for part in message.walk():
    if part.get_content_type() == "text/plain":
        print("body:", part.get_content().strip().splitlines()[0])
    elif part.get_filename():
        print("attachment:", part.get_content_type(), part.get_filename())
        with open(sys.argv[2], "wb") as out:
            out.write(part.get_payload(decode=True))
