#!/usr/bin/env python3
"""The test command's bench stage: runs the benches briefly and prints one table of
our figures against `dd`, `cp` and `cp -r` measured in the same run on the same disk,
beside the goals they are held to. It measures and prints; it never fails on speed.
It exits 1 only when a measure could not run at all.

    bench/speed_table.py BIN_DIR SOURCE_DIR [--download-mib N] [--upload-mib N]
                         [--files N] [--disk-files N] [--entries N] [--table FILE]

BIN_DIR holds cebridge, its plug-in, the emulator and files_bench (the default
build's bin/). The transfers' files live in memory (/dev/shm) when it has 2 GiB free,
as files_bench's own copies do, else in TMPDIR's disk; the listings' folders in
/dev/shm; `get -r` runs in both; every log goes to memory (/dev/shm), as the goals
assume. --table also writes the table alone to FILE.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

CHUNK = 65535  # the plug-in copies a file in chunks of this many bytes
UPLOAD_CHUNKS_PER_WAIT = 10  # an upload waits 1 ms after every tenth chunk's progress report
COMMAND_TIMEOUT = 600
ROUNDS = 5  # as files_bench's


class Row:
    def __init__(self, measure, ours='', baseline='', ratio='', goal='', met=None):
        self.cells = [measure, ours, baseline, ratio, goal, '' if met is None else ('met' if met else 'not met')]


def not_measured(measure, why):
    return Row(measure, 'not measured: ' + why)


def run(command, env=None, stdout=subprocess.DEVNULL):
    return subprocess.run(command, env=env, stdout=stdout, stderr=subprocess.PIPE, text=True, check=True,
                          timeout=COMMAND_TIMEOUT)


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


def best_interleaved(rounds, actions):
    """Runs each (target, action) pair once per round, in turn; the best time of each
    action, in seconds. The last round's copy at `target` is removed untimed."""
    best = [float('inf')] * len(actions)
    for _ in range(rounds):
        for index, (target, action) in enumerate(actions):
            remove(target)
            started = time.perf_counter()
            action()
            best[index] = min(best[index], time.perf_counter() - started)
    return best


def peak_memory_kib(command, env):
    """The peak resident memory of a child running `command` (its ru_maxrss), and its time."""
    with tempfile.TemporaryFile() as errors:
        started = time.perf_counter()
        child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=errors)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - started
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            errors.seek(0)
            raise subprocess.CalledProcessError(child.returncode, command, stderr=errors.read().decode(errors='replace'))
    return usage.ru_maxrss, seconds


def memory_has_room():
    """Whether the benches' own copies go to memory (/dev/shm), as they do with 2 GiB free there."""
    return shutil.disk_usage('/dev/shm').free >= 2 << 30


def mib_per_s(mib, seconds):
    return '%.1f MiB/s' % (mib / seconds)


def write_file(path, size, rng):
    block = rng.randbytes(min(size, 1 << 20))
    with open(path, 'wb') as out:
        for start in range(0, size, len(block)):
            out.write(block[:size - start])


class Bench:
    def __init__(self, args, work):
        self.args = args
        self.bin = os.path.abspath(args.bin)
        self.phone = os.path.join(work, 'phone')
        self.pc = os.path.join(work, 'pc')
        os.makedirs(self.pc)
        shutil.copytree(os.path.join(args.source, 'data', 'phones', 'demo'), self.phone)
        self.runtime = tempfile.mkdtemp(prefix='cebridge-bench-', dir='/dev/shm')
        env = {name: value for name, value in os.environ.items() if not name.startswith('CEBRIDGE_')}
        env.update(HOME=work, TMPDIR=work, XDG_RUNTIME_DIR=self.runtime, CEBRIDGE_DEVICE=self.phone,
                   CEBRIDGE_RAPI=os.path.join(self.bin, 'libceemu.so'),
                   CEBRIDGE_REGISTRY=os.path.join(work, 'registry.reg'), XDG_DATA_HOME=os.path.join(work, 'data'),
                   XDG_STATE_HOME=os.path.join(work, 'state'), XDG_CONFIG_HOME=os.path.join(work, 'config'))
        self.env = env
        self.host = os.path.join(self.bin, 'cebridge')
        self.rng = random.Random(31)
        self.plugin_download_seconds = None

    def close(self):
        shutil.rmtree(self.runtime, ignore_errors=True)

    def transfer_seconds(self, mib, part, direction, tool):
        """files_bench's best times of a transfer through the plug-in's real exports and
        of `tool` on the same file, in its interleaved rounds."""
        output = run([os.path.join(self.bin, 'files_bench'), str(mib), 'memlog', part], env=self.env,
                     stdout=subprocess.PIPE).stdout
        for line in output.splitlines():
            found = re.match(r'(\w+)\s+[\d.]+ MiB/s \(([\d.]+) s\)\s+(.+?)\s+[\d.]+ MiB/s \(([\d.]+) s\)', line)
            if found and found.group(1) == direction and found.group(3) == tool:
                return float(found.group(2)), float(found.group(4))
        raise ValueError('files_bench printed no %s beside %s:\n%s' % (direction, tool, output))

    def download(self):
        mib = self.args.download_mib
        ours, dd = self.transfer_seconds(mib, 'downloads', 'download', 'dd bs=65535')
        self.plugin_download_seconds = ours
        ratio = round(dd / ours, 2)  # judged as printed
        return Row('plug-in download, %d MiB' % mib, mib_per_s(mib, ours), 'dd bs=65535: ' + mib_per_s(mib, dd),
                    '%.2fx dd\'s speed' % ratio, '>= 0.9x dd\'s speed', ratio >= 0.9)

    def upload(self):
        mib = self.args.upload_mib
        ours, dd = self.transfer_seconds(mib, 'transfers', 'upload', 'dd bs=65535 dsync')
        waits = ((mib << 20) // CHUNK) // UPLOAD_CHUNKS_PER_WAIT
        baseline = dd + waits / 1000
        ratio = round(ours / baseline, 2)
        return Row('plug-in upload, %d MiB' % mib, '%.3f s' % ours,
                    'dd bs=65535 oflag=dsync %.3f s + %d x 1 ms' % (dd, waits), '%.2fx its time' % ratio,
                    '<= 1.1x its time', ratio <= 1.1)

    def host_get(self):
        """`cebridge get` of a big file against the plug-in's own download of the same size."""
        measure = 'cebridge get, %d MiB' % self.args.download_mib
        if self.plugin_download_seconds is None:
            return not_measured(measure, 'the plug-in\'s download was not measured')
        size = self.args.download_mib << 20
        # On the storage files_bench's download used: memory when it has room.
        phone, pc = (self.memory_phone(), self.runtime) if memory_has_room() else (self.phone, self.pc)
        device_file = os.path.join(phone, 'fs', 'Storage Card', 'big.bin')
        write_file(device_file, size, self.rng)
        target = os.path.join(pc, 'big.bin')
        env = dict(self.env, CEBRIDGE_DEVICE=phone)

        def get():
            run([self.host, 'get', '/Storage Card/big.bin', target], env=env)

        (ours,) = best_interleaved(ROUNDS, [(target, get)])
        os.remove(target)
        os.remove(device_file)
        ratio = round(ours / self.plugin_download_seconds, 2)
        return Row(measure, '%.3f s' % ours, 'plug-in download %.3f s' % self.plugin_download_seconds,
                    '%.2fx its time' % ratio, '<= 1.2x its time', ratio <= 1.2)

    def memory_phone(self):
        """A copy of the demo phone in memory (/dev/shm), made once."""
        phone = os.path.join(self.runtime, 'phone')
        if not os.path.isdir(phone):
            shutil.copytree(os.path.join(self.args.source, 'data', 'phones', 'demo'), phone)
        return phone

    def host_get_many(self):
        """`cebridge get -r` of a folder of small files (1-4 KB) beside `cp -r` of it: with
        phone and PC in memory, as the goal was set, and on the disk for information."""
        memory_pc = os.path.join(self.runtime, 'pc')
        os.makedirs(memory_pc)
        rows = [self.get_many_row(self.memory_phone(), memory_pc, self.args.files, 'in memory', judged=True),
                self.get_many_row(self.phone, self.pc, self.args.disk_files, 'on disk', judged=False)]
        shutil.rmtree(memory_pc)
        return rows

    def get_many_row(self, phone, pc, files, where, judged):
        remote = '/My Documents/many'
        folder = os.path.join(phone, 'fs', 'My Documents', 'many')
        os.makedirs(folder)
        for index in range(files):
            write_file(os.path.join(folder, 'file_%d.txt' % index), self.rng.randint(1024, 4096), self.rng)
        ours_target, cp_target = os.path.join(pc, 'many'), os.path.join(pc, 'many-cp')
        env = dict(self.env, CEBRIDGE_DEVICE=phone)

        def get_many():
            run([self.host, 'get', '-r', remote, ours_target], env=env)

        def copy_many():
            run(['cp', '-r', folder, cp_target])

        ours, cp = best_interleaved(ROUNDS, [(ours_target, get_many), (cp_target, copy_many)])
        if len(os.listdir(ours_target)) != files:
            raise ValueError('get -r copied %d of %d files' % (len(os.listdir(ours_target)), files))
        for path in (ours_target, cp_target, folder):
            shutil.rmtree(path)
        per_file = round(ours * 1e6 / files)
        return Row('cebridge get -r, %d files of 1-4 KB, %s' % (files, where), '%.0f us/file' % per_file,
                   'cp -r: %.0f us/file' % (cp * 1e6 / files), '%.1fx its time' % (ours / cp),
                   '<= 120 us/file' if judged else '-', per_file <= 120 if judged else None)

    # The listings' folders are made in memory (/dev/shm): their peak memory does not
    # depend on the disk, and 100,000 files come and go there in a moment.

    def plugin_listing_memory(self):
        """files_bench's listing of 100,000 entries through the plug-in's real exports:
        the peak of the agent's process (plug-in and emulated phone)."""
        output = run([os.path.join(self.bin, 'files_bench'), '1', 'memlog', 'listings'],
                     env=dict(self.env, TMPDIR=self.runtime), stdout=subprocess.PIPE).stdout
        for line in output.splitlines():
            fields = line.split()
            if fields and fields[0] == '100000':
                peak_mb = round(int(fields[4]) * 1024 / 1e6, 1)
                answer_mb = int(fields[3]) / 1e6
                # The find records RAPI hands over are part of the peak whatever the plug-in does.
                records_mb = int(fields[6]) * 1024 / 1e6
                return Row('peak memory, plug-in listing of 100000 entries', '%.1f MB (%s s)' % (peak_mb, fields[1]),
                           'answer %.1f MB, find records %.1f MB' % (answer_mb, records_mb), '-', '<= 100 MB',
                           peak_mb <= 100)
        raise ValueError('files_bench printed no listing of 100000 entries:\n' + output)

    def host_listing_memory(self):
        """The peak memory of `cebridge ls` and `cebridge --json ls` of one folder of many
        entries: the host, the plug-in and the emulated phone in one process."""
        entries = self.args.entries
        phone = self.memory_phone()
        folder = os.path.join(phone, 'fs', 'list')
        os.makedirs(folder)
        for index in range(entries):
            with open(os.path.join(folder, 'entry-%d.txt' % index), 'w') as out:
                out.write('x')
        rows = []
        for words in (['ls'], ['--json', 'ls']):
            peak_kib, seconds = peak_memory_kib([self.host] + words + ['/list'], dict(self.env, CEBRIDGE_DEVICE=phone))
            peak_mb = round(peak_kib * 1024 / 1e6, 1)
            rows.append(Row('peak memory, cebridge %s of %d entries' % (' '.join(words), entries),
                            '%.1f MB (%.1f s)' % (peak_mb, seconds), '-', '-', '<= 100 MB', peak_mb <= 100))
        shutil.rmtree(folder)
        return rows


    def sync_to_phone(self):
        """sync_bench's sync of 2,000 new cards from a PC folder to a phone without
        contacts, and the size of the plug-in's log after it."""
        output = run([os.path.join(self.bin, 'sync_bench'), '2000', 'to-phone'],
                     env=dict(self.env, TMPDIR=self.runtime), stdout=subprocess.PIPE).stdout
        for line in output.splitlines():
            fields = line.split()
            if fields[:2] == ['to-phone', 'new']:
                seconds, log_mb = float(fields[5]), int(fields[10]) / 1e6
                return [Row('sync of 2000 new cards to the phone', '%.1f s' % seconds, '-', '-', '< 10 s',
                            seconds < 10),
                        Row('plug-in log after that sync', '%.1f MB' % log_mb, '-', '-', '<= 64 MiB',
                            log_mb <= 64 * 1.048576)]
        raise ValueError('sync_bench printed no sync to the phone:\n' + output)


HEADER = ['measure', 'ours', 'baseline (same run)', 'ratio', 'goal', 'goal met']


def format_table(rows):
    table = [HEADER] + [row.cells for row in rows]
    widths = [max(len(line[column]) for line in table) for column in range(len(HEADER))]
    lines = [' | '.join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip() for line in table]
    lines.insert(1, '-+-'.join('-' * width for width in widths))
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('bin')
    parser.add_argument('source')
    parser.add_argument('--download-mib', type=int, default=256)
    parser.add_argument('--upload-mib', type=int, default=64)
    # The goal is for 10,000 files (a command's start and its listing shared by all);
    # the disk, many times slower at making files, gets fewer.
    parser.add_argument('--files', type=int, default=10000)
    parser.add_argument('--disk-files', type=int, default=2000)
    parser.add_argument('--entries', type=int, default=100000)
    parser.add_argument('--table')
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix='cebridge-bench-')
    bench = Bench(args, work)
    rows = []
    failed = False
    try:
        for measure in (bench.download, bench.upload, bench.host_get, bench.host_get_many,
                        bench.plugin_listing_memory, bench.host_listing_memory, bench.sync_to_phone):
            started = time.perf_counter()
            try:
                measured = measure()
                rows.extend(measured if isinstance(measured, list) else [measured])
            except Exception as error:  # one measure that cannot run leaves the others to run
                failed = True
                traceback.print_exc()
                if getattr(error, 'stderr', None):
                    print(error.stderr, file=sys.stderr)
                rows.append(not_measured(measure.__name__, (str(error) or type(error).__name__).splitlines()[0]))
            print('%s: %.1f s' % (measure.__name__, time.perf_counter() - started), flush=True)
    finally:
        bench.close()
        shutil.rmtree(work, ignore_errors=True)
    transfers = '/dev/shm' if memory_has_room() else os.path.dirname(work)
    title = ('best of %d interleaved runs; transfers in %s, listings and get -r in memory (/dev/shm), get -r also '
             'on disk (%s); logs in /dev/shm; speed is information, never a failure' %
             (ROUNDS, transfers, os.path.dirname(work)))
    lines = [title] + format_table(rows)
    print('\n'.join(lines))
    if args.table:
        with open(args.table, 'w') as out:
            out.write('\n'.join(lines) + '\n')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
