"""Runs a rendered pod's containers on this machine, the way the pod would run
them, with the pod's volumes moved to scratch folders."""

import subprocess

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
