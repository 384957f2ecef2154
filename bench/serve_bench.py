#!/usr/bin/env python3
"""What `cebridge serve` costs over the command line: a folder of 10,000 entries
through GET /api/files, and a 256 MiB download through GET /api/file against
`cebridge get` of the same file. Best of three runs each; it measures and prints,
and never passes or fails on speed.

    bench/serve_bench.py BIN_DIR SOURCE_DIR [--entries N] [--mib N]
"""
import argparse
import http.client
import os
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.parse


def best_of(runs, action):
    times = []
    for _ in range(runs):
        started = time.perf_counter()
        action()
        times.append(time.perf_counter() - started)
    return min(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('bin')
    parser.add_argument('source')
    parser.add_argument('--entries', type=int, default=10000)
    parser.add_argument('--mib', type=int, default=256)
    args = parser.parse_args()
    home = tempfile.mkdtemp(prefix='cebridge-serve-bench-')
    phone = os.path.join(home, 'phone')
    shutil.copytree(os.path.join(args.source, 'data', 'phones', 'demo'), phone)
    many = os.path.join(phone, 'fs', 'My Documents', 'many')
    os.makedirs(many)
    for i in range(args.entries):
        with open(os.path.join(many, 'file_%d.txt' % i), 'w') as out:
            out.write(str(i))
    with open(os.path.join(phone, 'fs', 'My Documents', 'big.bin'), 'wb') as out:
        out.write(os.urandom(1 << 20) * args.mib)
    env = dict(os.environ, HOME=home, CEBRIDGE_DEVICE=phone, CEBRIDGE_RAPI=os.path.join(args.bin, 'libceemu.so'),
               CEBRIDGE_REGISTRY=os.path.join(home, 'registry.reg'), XDG_DATA_HOME=os.path.join(home, 'data'),
               XDG_STATE_HOME=os.path.join(home, 'state'))
    host = os.path.join(args.bin, 'cebridge')
    server = subprocess.Popen([host, 'serve'], env=env, stdout=subprocess.PIPE, text=True)
    address = urllib.parse.urlsplit(server.stdout.readline().split()[-1])
    token = urllib.parse.parse_qs(address.query)['token'][0]

    def fetch(path):
        connection = http.client.HTTPConnection('127.0.0.1', address.port, timeout=300)
        connection.request('GET', path, headers={'Authorization': 'Bearer ' + token})
        response = connection.getresponse()
        while response.read(1 << 20):
            pass
        assert response.status == 200, response.status
        connection.close()

    def save(path, target):
        """The body straight from the socket in large reads (http.client's chunk decoding in
        Python would be what is measured): into a new file, as a browser saves a
        download, or dropped (target None), as far as the server's part goes."""
        if target and os.path.exists(target):
            os.remove(target)
        connection = socket.create_connection(('127.0.0.1', address.port))
        connection.sendall(('GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n'
                            'Connection: close\r\n\r\n' % (path, address.port, token)).encode())
        buffer = bytearray(4 << 20)
        view = memoryview(buffer)
        status = b''
        with open(target or os.devnull, 'wb', buffering=0) as out:
            while True:
                got = connection.recv_into(buffer)
                if not got:
                    break
                status = status or bytes(view[:12])
                if target:
                    out.write(view[:got])
        connection.close()
        assert status.startswith(b'HTTP/1.1 200'), status

    def get(target):
        if os.path.exists(target):
            os.remove(target)
        subprocess.run([host, 'get', '/My Documents/big.bin', target], env=env, check=True, stdout=subprocess.DEVNULL)

    try:
        listing = best_of(3, lambda: fetch('/api/files?path=' + urllib.parse.quote('/My Documents/many')))
        ls = best_of(3, lambda: subprocess.run([host, '--json', 'ls', '/My Documents/many'], env=env, check=True,
                                               stdout=subprocess.DEVNULL))
        print('folder of %d entries: GET /api/files %.3f s, cebridge --json ls %.3f s' % (args.entries, listing, ls))
        big = '/api/file?path=' + urllib.parse.quote('/My Documents/big.bin')
        saved, received, direct = [], [], []
        for _ in range(5):  # interleaved: a busy moment hurts all alike
            saved.append(best_of(1, lambda: save(big, os.path.join(home, 'through.bin'))))
            received.append(best_of(1, lambda: save(big, None)))
            direct.append(best_of(1, lambda: get(os.path.join(home, 'direct.bin'))))
        saved, received, direct = min(saved), min(received), min(direct)
        print('%d MiB download: cebridge get %.3f s; through the server, received %.3f s: %.2fx its speed; '
              'saved to a file as a browser does %.3f s: %.2fx'
              % (args.mib, direct, received, direct / received, saved, direct / saved))
    finally:
        server.send_signal(2)
        server.wait()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == '__main__':
    main()
