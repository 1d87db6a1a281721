"""Writes a firmware image as hexadecimal text records, as the scripts' and tests' firmware files
need it: data records of a fixed length, a record before each further 64 KiB (this system's bank
record, or plain Intel HEX's extended linear address record, which standard tools read), an end
record, CR LF after each record.
"""


def record(kind, address, data=b""):
    """One record: ':', count, 16-bit address, type, data and checksum in upper-case hex, CR LF."""
    fields = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + data
    checksum = (-sum(fields)) & 0xFF
    return ":" + (fields + bytes([checksum])).hex().upper() + "\r\n"


def bank_record(upper):
    """This system's bank record (type 0x55, no data): the next 64 KiB follow."""
    return record(0x55, 0)


def linear_address_record(upper):
    """Intel HEX's extended linear address record (type 0x04): the upper 16 address bits."""
    return record(0x04, 0, upper.to_bytes(2, "big"))


def text_records(image, record_bytes, segment_record=bank_record):
    """The whole image as text: `record_bytes` data bytes a record, `segment_record(upper)`
    before each further 64 KiB, the end record last."""
    lines = []
    for a in range(0, len(image), record_bytes):
        if a and a % 0x10000 == 0:
            lines.append(segment_record(a >> 16))
        lines.append(record(0x00, a & 0xFFFF, image[a:a + record_bytes]))
    lines.append(record(0x01, 0))
    return "".join(lines)
