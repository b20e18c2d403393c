"""Runs a rendered pod's containers on this machine, the way the pod would run
them, with the pod's volumes moved to scratch folders, and stands in for the
API server they ask."""

import contextlib
import http.server
import json
import subprocess
import threading

import yaml


def render_objects(render, env):
    """The objects `render` prints with the given environment."""
    rendered = subprocess.run([render], env=env, capture_output=True, text=True, check=True)
    return list(yaml.safe_load_all(rendered.stdout))


def job_named(objects, indexed):
    return next(o for o in objects if o.get("kind") == "Job" and (o["spec"].get("completionMode") == "Indexed") == indexed)


def moved(text, moves):
    """The text with a leading mount path replaced by the folder it moved to."""
    for mount, folder in moves.items():
        if text == mount or text.startswith(mount + "/"):
            return folder + text[len(mount):]
    return text


def run_container(container, moves, env, cwd, extra_args=()):
    """Runs the container's command and args with its literal environment
    values over `env`, every mount path in argv and values moved."""
    env = dict(env)
    for entry in container.get("env", []):
        if "value" in entry:
            env[entry["name"]] = moved(entry["value"], moves)
    argv = [moved(part, moves) for part in container["command"] + container.get("args", [])] + list(extra_args)
    return subprocess.run(argv, env=env, cwd=cwd, capture_output=True, text=True)


class _Answers(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.server.paths.append(self.path)
        code, body = self.server.answers[min(len(self.server.paths), len(self.server.answers)) - 1]
        data = (body if isinstance(body, str) else json.dumps(body)).encode()
        self.send_response(code)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


@contextlib.contextmanager
def api_server(answers):
    """A stand-in API server on a loopback port that gives the (status, body)
    answers in order, the last one from then on; yields its address and the
    list of paths it was asked for."""
    server = http.server.HTTPServer(("127.0.0.1", 0), _Answers)
    server.answers, server.paths = answers, []
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield f"http://127.0.0.1:{server.server_port}", server.paths
    finally:
        server.shutdown()
        server.server_close()
