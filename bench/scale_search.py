#!/usr/bin/env python3
"""The measuring side of bench/scale_bench.sh: the Search pages asked of vamuserver,
and the peer, SQLite FTS5 over the same generated documents.

  scale_search.py create DB              an empty FTS5 table
  scale_search.py add DB DIR...          adds the files of the directories (windows-1250,
                                         given to FTS5 as text); prints the seconds it took
  scale_search.py query DB RUNS COUNTS   reads "class<TAB>query" lines, runs each query
                                         RUNS + 1 times (the first is left out), prints
                                         "class milliseconds" per run and writes each
                                         query's hit count, a line each, to COUNTS
  scale_search.py pages PORT PID RUNS COUNTS
                                         reads "class<TAB>pattern" lines (the pattern
                                         URL-encoded windows-1250) and asks for the Search
                                         page of each RUNS + 1 times, every request with a
                                         field of its own (never answered from the page's
                                         result cache); prints "class wall-ms server-cpu-ms"
                                         per run but the first, and writes the number of
                                         acts each page says it found to COUNTS

The tokenizer folds case and keeps diacritics, so that both sides find the same
words; a query counts its hits, as the Search page's first step does. The server's
processor time is the sum over all its threads (/proc/PID/task/*/schedstat): on a
shared machine the wall time also measures the neighbours.
"""
import glob
import http.client
import os
import re
import sqlite3
import sys
import time


def create(db):
    if os.path.exists(db):
        os.remove(db)
    c = sqlite3.connect(db)
    c.execute("CREATE VIRTUAL TABLE docs USING fts5(body, tokenize='unicode61 remove_diacritics 0')")
    c.commit()
    c.close()


def add(db, dirs):
    c = sqlite3.connect(db)
    start = time.perf_counter()
    with c:
        for d in dirs:
            for name in sorted(os.listdir(d)):
                with open(os.path.join(d, name), "rb") as f:
                    body = f.read().decode("cp1250", errors="replace")
                c.execute("INSERT INTO docs(body) VALUES (?)", (body,))
    print("%.1f" % (time.perf_counter() - start))
    c.close()


def query(db, runs, counts):
    c = sqlite3.connect("file:%s?mode=ro" % db, uri=True)
    with open(counts, "w") as out:
        for line in sys.stdin:
            cls, q = line.rstrip("\n").split("\t", 1)
            n = 0
            for run in range(runs + 1):
                start = time.perf_counter()
                n = c.execute("SELECT count(*) FROM docs WHERE docs MATCH ?", (q,)).fetchone()[0]
                ms = (time.perf_counter() - start) * 1000
                if run:
                    print(cls, "%.3f" % ms)
            out.write("%d\n" % n)
    c.close()


def server_cpu_ns(pid):
    total = 0
    for f in glob.glob("/proc/%s/task/*/schedstat" % pid):
        try:
            with open(f) as stat:
                total += int(stat.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass  # a thread that ended between the listing and the read
    return total


def pages(port, pid, runs, counts):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=300)
    request = 0
    with open(counts, "w") as out:
        for line in sys.stdin:
            cls, pattern = line.rstrip("\n").split("\t", 1)
            found = "?"
            for run in range(runs + 1):
                request += 1
                cpu = server_cpu_ns(pid)
                start = time.perf_counter()
                connection.request("GET", "/portico.dll?Search&Pattern=%s&Run=%d" % (pattern, request))
                response = connection.getresponse()
                body = response.read()
                wall = (time.perf_counter() - start) * 1000
                cpu = (server_cpu_ns(pid) - cpu) / 1e6
                if response.status != 200:
                    sys.exit("scale_search: %s: HTTP %d" % (pattern, response.status))
                if run:
                    print(cls, "%.3f" % wall, "%.3f" % cpu)
                m = re.search(rb"znalezione \((\d+)", body)
                found = m.group(1).decode() if m else ("0" if b"Nie znaleziono" in body else "?")
            out.write(found + "\n")


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "create":
        create(sys.argv[2])
    elif len(sys.argv) >= 4 and sys.argv[1] == "add":
        add(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 5 and sys.argv[1] == "query":
        query(sys.argv[2], int(sys.argv[3]), sys.argv[4])
    elif len(sys.argv) == 6 and sys.argv[1] == "pages":
        pages(int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), sys.argv[5])
    else:
        sys.exit(__doc__)
