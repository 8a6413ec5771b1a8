#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: the wire bytes of the virtual handset's replies
(as its --trace shows them) and small real settings, JAD and index files."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


DATA = bytes((i * 37 + 11) & 0xFF for i in range(300))
CRC = zlib.crc32(DATA) & 0xFFFFFFFF
ENTRY1 = '+FSDL: 0,"tone.mmf",302,0,0,0,2048,0,"2024/05/01 12:00",0\r\n'
ENTRY2 = '+FSDL: 0,"pic.jpg",106,0,0,0,0,0,"2024/05/02 08:30",0\r\n'
LISTING = "AT+FSDL=\"/user/sounds\"\r\n\r\n" + ENTRY1 + ENTRY2 + "#OK#\r\n"
HEADER = '\r\n+FSFR: 0,"a.mmf",302,0,0,%d,0,0,"2024/05/01 12:00",0,%d\r\n#OK#\r\n' % (len(DATA), CRC)
ECHO_FR = 'AT+FSFR= -1,"a.mmf"\r\n'


def data_block(payload, number=0, lead=b"\r\n"):
    return lead + b"+FSFR:" + ("%7d" % len(payload)).encode() + b"," + ("%4d" % number).encode() + b"," + payload + b"#OK#\r\n"


replies = {
    "atz": "ATZ\r\r\nOK\r\n",
    "cgmm": "AT+CGMM\r\r\nTV-1 Virtual\r\n\r\nOK\r\n",
    "fsif": "AT+FSIF\r\r\n+FSIF: 67108864,66060288\r\n\r\nOK\r\n",
    "listing": LISTING,
    "final": "\r\nOK\r\n",
    "prompt": 'AT+FSFW=-1,"a.mmf",302," ",304,0\r\n\r\n##>\r\n',
    "cme": ECHO_FR + "\r\n+CME ERROR: 4\r\n",
    "header": ECHO_FR + HEADER,
}
for name, text in replies.items():
    # reply target: first byte is the echo length
    echo_len = len(text.split("\r")[0]) + 1
    put("reply", name, bytes([echo_len]) + text.encode("latin-1"))
put("reply", "data", b"\x00" + data_block(DATA))

put("listing", "block", LISTING)
put("listing", "final_entries", "\r\n" + ENTRY1 + "\r\nOK\r\n")
put("read_header", "header", HEADER)
put("read_header", "empty", '\r\n+FSFR: 0,"e.txt",0,0,0,0,0,0,"2024/05/01 12:00",0,0\r\n#OK#\r\n')
put("read_data", "block", data_block(DATA))
put("read_data", "blanks", data_block(DATA[:17], 3, b"\r\n\r\n"))
put("model", "cgmm", "\r\nTV-1 Virtual\r\n\r\nOK\r\n")
put("model", "bare", "\r\nOK\r\n")
put("ini", "settings", "[COMMON]\r\nPORT=/dev/ttyUSB0\r\nCOMPortBaudRate=115200\r\nHOMEDIR=/home/user\r\n"
    "COMCheckLineStatus=0\r\nCOMHwFlow=$1\r\n\r\n[OTHER]\r\nkey = value\r\n")
put("jad", "suite", "MIDlet-1: Demo, icon.png, Demo\nMIDlet-Jar-Size: 1234\nMIDlet-Jar-URL: demo.jar\n"
    "MIDlet-Name: Demo Game\r\nMIDlet-Vendor: Someone\rMIDlet-Version: 1.0\n")


def store_entry(text):
    return struct.pack(">H", len(text)) + text


suites = store_entry(b"#Demo%0020#Game") + store_entry(b"#Other")
put("store_index", "suites", bytes([len("#New")]) + b"#New" + suites)
put("store_index", "present", bytes([len("#Other")]) + b"#Other" + suites)

# receive: command, flags, piece size, file size / 16, then the bytes
put("receive", "atz", bytes([1, 4, 0, 0]) + replies["atz"].encode())
put("receive", "cgmm", bytes([2, 4, 5, 0]) + replies["cgmm"].encode())
put("receive", "listing", bytes([4, 4, 0, 0]) + LISTING.encode() + b"\r\nOK\r\n")
put("receive", "read", bytes([7, 4, 64, 0]) + (ECHO_FR + HEADER).encode() + data_block(DATA) + b"\r\nOK\r\n")
put("receive", "read_data", bytes([7, 1, 0, len(DATA) // 16]) + data_block(DATA[:len(DATA) // 16 * 16]) + b"\r\nOK\r\n")
put("receive", "write", bytes([8, 4, 0, 19]) + replies["prompt"].encode() + b"\r\n##>\r\n\r\nOK\r\n")
put("receive", "cme", bytes([7, 4, 0, 0]) + replies["cme"].encode())
put("receive", "erase", bytes([6, 4, 3, 0]) + b'AT+FSFE= -1,"a.mmf"\r\n\r\nOK\r\n')

# trace: a few lines as tarvel --trace writes them, with a remark between them
put("trace", "session", "15:07:27.263 PC->HS ATZ<CR>\n15:07:27.263 HS->PC ATZ<CR><CR><LF>OK<CR><LF>\n"
    "handset: protocol violation: data before the prompt\n15:07:27.300 HS->PC <00><3C><FF>#OK#<CR><LF>\n")
