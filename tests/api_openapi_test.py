#!/usr/bin/env python3
"""The JSON API against its OpenAPI description (docs/openapi.json).

vamuserver with the extension serves the demo bases made from the corpus;
every operation of the description is asked with good and bad input, and
each response is checked: its status is one the operation documents, its
body validates against the documented schema (jsonschema, Debian's
python3-jsonschema), and a few values are checked against what the demo
bases hold.

usage: api_openapi_test.py VAMUSERVER LIBPORTICO BUILD_DEMO_SH BIN_DIR OPENAPI_JSON
"""
import copy
import json
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.error
import urllib.parse
import urllib.request

import jsonschema


def inline_refs(node, root):
    """The schema with every local $ref replaced by what it names (the
    description has no cycles), so any jsonschema version validates it."""
    if isinstance(node, dict):
        if "$ref" in node:
            target = root
            for part in node["$ref"].lstrip("#/").split("/"):
                target = target[part]
            rest = {k: v for k, v in node.items() if k != "$ref"}
            resolved = inline_refs(copy.deepcopy(target), root)
            if rest:
                return {"allOf": [resolved, inline_refs(rest, root)]}
            return resolved
        return {k: inline_refs(v, root) for k, v in node.items()}
    if isinstance(node, list):
        return [inline_refs(v, root) for v in node]
    return node


class Server:
    def __init__(self, program, extension, registry, workdir):
        self.process = subprocess.Popen(
            [program, "--port", "0", "--registry", registry, "--extension", extension, "--log",
             os.path.join(workdir, "access.log")],
            stdout=subprocess.PIPE, stderr=open(os.path.join(workdir, "server.err"), "w"), text=True)
        line = self.process.stdout.readline()
        if "listening on" not in line:
            raise RuntimeError("the server did not start: " + line)
        self.port = int(line.strip().rsplit(":", 1)[1])

    def get(self, target):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.port, target), timeout=30) as r:
                return r.status, r.headers.get("Content-Type"), r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers.get("Content-Type"), e.read()

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=20)


def main():
    program, extension, build_demo, bin_dir, description_path = sys.argv[1:6]
    description = json.load(open(description_path))
    work = tempfile.mkdtemp(prefix="vamu-api-")
    passed, failed = 0, 0
    try:
        subprocess.run(["bash", build_demo, bin_dir, os.path.join(work, "demo")], check=True,
                       stdout=subprocess.DEVNULL)
        server = Server(program, extension, os.path.join(work, "demo", "registry.reg"), work)
        exercised = set()

        def check(target, operation, want_status, expect=None):
            nonlocal passed, failed
            status, ctype, body = server.get(target)
            problems = []
            if status != want_status:
                problems.append("status %d, expected %d" % (status, want_status))
            responses = description["paths"][operation]["get"]["responses"]
            if str(status) not in responses:
                problems.append("status %d is not documented for %s" % (status, operation))
            if ctype != "application/json; charset=utf-8":
                problems.append("content type " + str(ctype))
            try:
                data = json.loads(body.decode("utf-8"))
            except (UnicodeDecodeError, ValueError) as e:
                problems.append("no JSON in UTF-8: %s" % e)
                data = None
            if data is not None and str(status) in responses:
                schema = inline_refs(responses[str(status)], description)["content"]["application/json"]["schema"]
                errors = list(jsonschema.Draft202012Validator(schema).iter_errors(data))
                problems += ["schema: %s at %s" % (e.message, list(e.absolute_path)) for e in errors[:5]]
            if data is not None and not problems and expect:
                try:
                    message = expect(data)
                except (KeyError, IndexError, TypeError) as e:
                    message = "unexpected data: %r" % e
                if message:
                    problems.append(message)
            if problems:
                failed += 1
                print("FAIL %s\n  %s" % (target, "\n  ".join(problems)))
            else:
                passed += 1
                if status == 200:
                    exercised.add(operation)

        acts = "/api/v1/akty/{dziennik}/{rok}"
        act = "/api/v1/eli/{dziennik}/{rok}/{pozycja}"
        first = act + "/pierwotny"
        after = act + "/po/{zDziennik}/{zRok}/{zPozycja}"
        provision = act + "/art/{artykul}"
        search = "/api/v1/szukaj"

        check("/api/v1/akty/DU/1997", acts, 200,
              lambda d: None if [a["pozycja"] for a in d["akty"]] == [483, 553] and d["akty"][0]["wersje"] == 3
              else "the acts of 1997: %r" % [a["pozycja"] for a in d["akty"]])
        check("/api/v1/akty/DU/1964?start=2&dlugosc=1", acts, 200,
              lambda d: None if d["razem"] == 2 and [a["pozycja"] for a in d["akty"]] == [296] else "paging: %r" % d)
        check("/api/v1/akty/MP/1997", acts, 200, lambda d: None if d["razem"] == 0 else "no M.P. in the demo")
        check("/api/v1/akty/DU/1897", acts, 404)
        check("/api/v1/akty/XX/1997", acts, 404)
        check("/api/v1/akty/DU/1997?dlugosc=0", acts, 400)
        check("/api/v1/akty/DU/1997?start=%3Cscript%3E", acts, 400)

        def konstytucja(d):
            if len(d["wersje"]) != 3 or not d["wersje"][2]["obowiazujaca"] or not d["wersja"]["obowiazujaca"]:
                return "three versions, the last in force"
            if not d["tytul"].startswith("Konstytucja Rzeczypospolitej Polskiej"):
                return "title " + d["tytul"]
            if not d["orzeczenia"] or not d["orzeczenia_przepisow"] or not d["spis"]:
                return "rulings per provision and contents"
            for entry in d["orzeczenia_przepisow"]:
                for r in entry["orzeczenia"]:
                    if entry["przepis"] not in [p["przepis"] for p in d["orzeczenia"][r]["przepisy"]]:
                        return "ruling %d does not name %s" % (r, entry["przepis"])
            if not d["powiazane"]:
                return "related acts"
            return None
        check("/api/v1/eli/DU/1997/483", act, 200, konstytucja)
        check("/api/v1/eli/DU/1997/484", act, 404)
        check("/api/v1/eli/DU/1997/483/pierwotny", first, 200,
              lambda d: None if d["wersja"]["zmiana"] is None and d["wersja"]["wyswietlana"] else "first text")
        check("/api/v1/eli/DU/1964/93/pierwotny", first, 200)
        check("/api/v1/eli/DU/1997/483/po/DU/2006/1471", after, 200,
              lambda d: None if d["wersja"]["zmiana"]["adres"] == "/eli/DU/2006/1471" else "amendment")
        check("/api/v1/eli/DU/1997/483/po/DU/2006/1472", after, 404)
        check("/api/v1/eli/DU/1997/483/art/5", provision, 200,
              lambda d: None if d["tekst"].startswith("Art. 5. Rzeczpospolita Polska strzeże") else d["tekst"][:80])
        check("/api/v1/eli/DU/1997/483/art/99/ust/3", provision, 200,
              lambda d: None if d["tekst"].startswith("3. Wybraną do Sejmu") and d["przepis"]["przepis"] == "art. 99 ust. 3"
              else d["tekst"][:80])
        check("/api/v1/eli/DU/1997/483/pierwotny/art/99/ust/3", provision, 404)
        check("/api/v1/eli/DU/1964/93/art/22(1)", provision, 200,
              lambda d: None if d["tekst"].startswith("Art. 22[1].") else d["tekst"][:40])
        check("/api/v1/eli/DU/1997/483/art/%3Cb%3E", provision, 404)

        check("/api/v1/szukaj?q=konstytucja&dziennik=DU", search, 200,
              lambda d: None if any(w["adres"] == "/eli/DU/1997/483" for w in d["wyniki"]) else "Konstytucja not found")
        check("/api/v1/szukaj?q=" + urllib.parse.quote("władza") + "&rok_od=1990&rok_do=2010", search, 200,
              lambda d: None if d["q"] == "władza" and d["razem"] >= 1 else "the word across 2000: %r" % d["razem"])
        check("/api/v1/szukaj?rok_od=1997&rok_do=1997&dlugosc=1", search, 200,
              lambda d: None if d["razem"] >= 2 and len(d["wyniki"]) == 1 else "paging")
        check("/api/v1/szukaj?q=%FF", search, 400)
        check("/api/v1/szukaj?q=" + urllib.parse.quote("日本"), search, 400)
        check("/api/v1/szukaj?dziennik=XX", search, 400)
        check("/api/v1/szukaj?dlugosc=101", search, 400)

        for operation in description["paths"]:
            if operation not in exercised:
                failed += 1
                print("FAIL the operation %s was never answered with 200" % operation)
        server.stop()
        errors = open(os.path.join(work, "server.err")).read()
        if "Sanitizer" in errors or "runtime error" in errors:
            failed += 1
            print("FAIL the server reported:\n" + errors)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
