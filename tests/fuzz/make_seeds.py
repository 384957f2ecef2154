#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz entries into tests/fuzz/seeds/<target>/.

The seeds are small real examples in each entry's input form (the first lines of
each *_fuzz.cpp describe it). The emulator's seeds are requests the plug-in sent
to the demo phone, recorded once; this script leaves them alone.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

PAR_NAME, PAR_TYPE, PAR_TARGET, PAR_XMLBODY = 0x01, 0x42, 0x46, 0x48
PAR_APP_FILEPATH, PAR_APP_SEARCH, PAR_APP_FLAGS, PAR_APP_RANGE = 0x60, 0x61, 0x62, 0x63
PAR_APP_MEMTYPE, PAR_APP_GROUP, PAR_APP_ID, PAR_APP_OPTION = 0x64, 0x65, 0x66, 0x67
PAR_APP_TIMEOUT, PAR_APP_COUNT = 0x68, 0x6A
PAR_ERRCODE, PAR_LENGTH = 0x05, 0xC3


def write(target, name, data):
    folder = os.path.join(HERE, "seeds", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def param(code, value):
    if isinstance(value, str):
        value = value.encode()
    return bytes([code]) + struct.pack("<I", len(value)) + value


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


def wide(text, terminated=True):
    return text.encode("utf-16-le") + (b"\0\0" if terminated else b"")


def request_bodies():
    # first byte: command (0 PUT, 1 GET, 2 SETPATH, 3 NOTI); second: bit 0 = ST_CONTINUE
    write("request_body", "folder_listing.bin", b"\x01\x00" + param(PAR_TYPE, "x-obex/folder-listing"))
    write("request_body", "capability.bin",
          b"\x01\x00" + param(PAR_TYPE, "x-obex/capability") + param(PAR_TARGET, "PHONE") +
          param(PAR_APP_SEARCH, "*") + param(PAR_APP_TIMEOUT, "30000"))
    write("request_body", "setpath_child.bin",
          b"\x02\x00" + param(PAR_NAME, "My Documents") + param(PAR_APP_FLAGS, "2"))
    write("request_body", "put_contact.bin",
          b"\x00\x00" + param(PAR_TYPE, "x-irmc/telecom/pb") + param(PAR_APP_MEMTYPE, "PHONE") +
          param(PAR_XMLBODY, "FIRSTNAME=Minsu||LASTNAME=Kim||MOBILETELEPHONENUMBER=010-1234-5678"))
    write("request_body", "put_file_chunk.bin",
          b"\x00\x01" + param(PAR_NAME, "photo.jpg") + param(PAR_APP_FILEPATH, "\\My Documents\\photo.jpg") +
          param(PAR_APP_RANGE, u32(0) + u32(4095) + u32(4096)) + param(PAR_APP_COUNT, u32(2)) +
          param(PAR_APP_OPTION, b"\x01") + param(PAR_XMLBODY, b"\xff\xd8\xff\xe0" * 8))
    write("request_body", "delete_object.bin",
          b"\x00\x00" + param(PAR_APP_ID, "1a2b") + param(PAR_APP_GROUP, "contacts") + param(PAR_NAME, "x" * 300))
    write("request_body", "overrunning_length.bin",
          b"\x01\x00" + param(PAR_TYPE, "x-obex/folder-listing") + bytes([PAR_NAME]) + u32(0xFFFFFFF0) + b"abc")


def item_texts():
    write("item_text", "three_properties.txt", b"FIRSTNAME=Minsu||LASTNAME=Kim||MOBILETELEPHONENUMBER=010-1234-5678")
    write("item_text", "appointment.txt",
          b"TITLE=Weekly meeting||LOCATION=Room 3||STARTTIME=20261207T090000Z||ENDTIME=20261207T100000Z||"
          b"DURATION=60||WHOLEDAY=FALSE")
    write("item_text", "odd_items.txt", b"||||=x||NOEQUALS||A==B|||BODY=" + b"y" * 1500 + b"||ID=" + b"9" * 40)
    write("item_text", "multibyte.txt", "FIRSTNAME=민수||LASTNAME=김||COMPANYNAME=회사".encode("cp949"))


def read_response(oid, count, area):
    return u32(oid) + u16(count) + area


def wire_value(propid, length, low, high):
    return u32(propid) + u16(length) + u16(0) + u32(low) + u32(high)


def tobrann_answers():
    first_name = (0x0082 << 16) | 31
    call_type = (0x0004 << 16) | 3
    picture = (0x00AB << 16) | 65
    # [wrapper, mode, code(4), response]
    area = wire_value(first_name, 2, 32, 0) + wire_value(call_type, 0, 2053, 0) + wide("hi")
    write("tobrann_answer", "read_string_and_number.bin", b"\x00\x05" + u32(0) + read_response(0x10001, 2, area))
    area = wire_value(picture, 0, 4, 16) + b"\x01\x02\x03\x04"
    write("tobrann_answer", "read_blob_small_buffer.bin", b"\x00\x02" + u32(0) + read_response(0x10002, 1, area))
    info = bytearray(2464)
    info[12:12 + 16] = wide("Contacts Database")
    info[268:272] = u32(24)
    info[272:276] = u32(20)
    write("tobrann_answer", "oid_info.bin", b"\x01\x00" + u32(0) + bytes(info))
    write("tobrann_answer", "enum_volume.bin", b"\x02\x00" + u32(0) + bytes(range(16)) + wide("\\pim.vol"))
    specs = (u32(0) + u32(first_name) + u32(0) + u32(0) + u32(0)) * 2
    write("tobrann_answer", "database_props.bin", b"\x03\x03" + u32(0) + u16(2) + specs)
    write("tobrann_answer", "stream_read.bin", b"\x04\x01" + u32(0) + u32(4) + b"data")
    write("tobrann_answer", "phone_number.bin", b"\x05\x00" + u32(0) + wide("01012345678"))
    write("tobrann_answer", "error_code.bin", b"\x00\x01" + u32(259))


def find_record(attributes, size, name, unterminated=False):
    name_form = 0x80 if unterminated else len(name)
    return u32(attributes) + u32(size) + u32(0x12345678) + bytes([name_form]) + wide(name, False)


def find_records():
    folder, file, mounted = 0x10, 0x20, 0x110
    write("find_records", "listing.bin",
          b"\x00" + find_record(folder, 0, "My Documents") + find_record(file, 12, "readme.txt") +
          find_record(file, 70000, "사진.jpg"))
    write("find_records", "listing_unterminated_name.bin",
          b"\x00" + find_record(file, 1, "a" * 8, unterminated=True) + find_record(file, 2, "b.txt"))
    write("find_records", "capability_stores.bin",
          b"\x01" + find_record(mounted, 0, "Storage Card") + find_record(mounted, 0, "My Flash") +
          find_record(folder, 0, "Windows"))
    write("find_records", "capability_unterminated_root.bin",
          b"\x01" + find_record(mounted, 0, "Storage Card", unterminated=True))


def host_answers():
    # answer bodies as the plug-in sends them: its XML documents (from the golden
    # files), a progress figure and an error code
    golden = os.path.join(HERE, "..", "golden")
    for kind, name in (("xml", "capability_demo_phone.txt"), ("xml", "contents_every_kind.txt"),
                       ("pim", "phonebook_listing.xml"), ("pim", "smsdata_recv_listing.xml")):
        with open(os.path.join(golden, kind, name), "rb") as source:
            document = source.read()
        write("host_answer", os.path.splitext(name)[0] + ".bin", param(PAR_XMLBODY, document))
    # texts written unescaped, as the plug-in writes them: markup characters, an end
    # tag and a sibling's tag in a title, CDATA's end in a message, and "?>" after
    # which the DTD comes again
    dtd = "\r\n<!DOCTYPE Contents-listing [\r\n<!ELEMENT Title (#PCDATA)>\r\n]>"
    lines = ["<Contents-listing Version=\"1.0\">",
             "<Content>", "<ID>40000</ID>", "<Title>AT&T", "<3 </Title>", "<Group>x</Title>",
             "<Group>TRG-PHONEBOOK/PRIVATE</Group>", "<Type>phonebook/private</Type>", "</Content>",
             "<Content>", "<ID>50001</ID>", "<Title>010</Title>", "<Group>TRG-SMSDATA</Group>",
             "<Type>smsdata/recv</Type>", "<Ext>", "<XNam>Message</XNam>", "<XVal>",
             "<![CDATA[see", "<b> & ]]> here ?>" + dtd + " done]]>", "</XVal>", "</Ext>", "</Content>",
             "</Contents-listing>"]
    write("host_answer", "unescaped_texts.bin",
          param(PAR_XMLBODY, "<?xml version=\"1.0\"?>" + dtd + "\r\n" + "\r\n".join(lines)))
    write("host_answer", "appointment_text.bin",
          param(PAR_XMLBODY, "SUBJECT=Meeting||LOCATION=Room 3||STARTTIME=20090601T010000Z||"
                             "ENDTIME=20090601T113000Z||ALLDAYEVENT=0"))
    write("host_answer", "progress_and_error.bin",
          param(PAR_LENGTH, "65536") + param(PAR_ERRCODE, "7FFFFFFF") + param(PAR_NAME, b"\xb1\xe8 notes.txt"))


if __name__ == "__main__":
    request_bodies()
    item_texts()
    tobrann_answers()
    find_records()
    host_answers()
