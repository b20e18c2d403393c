"""A job folder as the array's tasks leave it, made without a cluster: the
suite run on a partition as suite.sbatch runs it, `scontrol` stood in for by a
script that gives the tasks' states, and the merge step run on the folder."""

import os
import shutil
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
MERGE = os.path.join(HERE, "..", "merge_reports")


def test_names(listing):
    """The test names of a `--list` output."""
    return [line[: -len(": test")] for line in listing.splitlines() if line.endswith(": test")]


class FakeJob:
    """Job `job_id`'s folder in a fresh scratch folder under `scratch_base`,
    whose tasks Slurm says are in `states` (one "STATE Reason" per task)."""

    def __init__(self, suite, scratch_base, schema, job_id, states, suite_args):
        if not os.path.isfile(schema):
            raise SystemExit(f"no JUnit schema at {schema}: it is kept in the folder beside the checkout")
        os.makedirs(scratch_base, exist_ok=True)
        self.scratch = tempfile.mkdtemp(dir=scratch_base)
        self.suite, self.schema, self.job_id, self.suite_args = suite, schema, job_id, suite_args
        self.dir = os.path.join(self.scratch, job_id)
        self.count = len(states)
        bin_dir, locks = os.path.join(self.scratch, "bin"), os.path.join(self.scratch, "locks")
        for folder in (self.dir, bin_dir, locks):
            os.makedirs(folder)
        with open(os.path.join(bin_dir, "scontrol"), "w", encoding="utf-8") as fake:
            fake.write("#!/bin/sh\n")
            for index, state in enumerate(states, 1):
                job_state, reason = state.split()
                fake.write(f"echo 'JobId={100 + index} ArrayJobId={job_id} ArrayTaskId={index} "
                           f"JobState={job_state} Reason={reason}'\n")
        os.chmod(os.path.join(bin_dir, "scontrol"), 0o755)
        self.env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], ZLU_TEST_BOOTSTRAP="1",
                        ZLU_TEST_LOCK_DIR=locks)
        self.env.pop("ZLU_TEST_PARTITION", None)
        self.env.pop("ZLU_TEST_CARDS", None)

    def partition(self, index):
        return f"count:{index}/{self.count}"

    def listed(self, index=None):
        """The tests the suite selects, or those of partition `index`, in table order."""
        env = dict(self.env, ZLU_TEST_PARTITION=self.partition(index)) if index else self.env
        return test_names(subprocess.run([self.suite, "--list", *self.suite_args], env=env, capture_output=True,
                                         text=True, check=True).stdout)

    def run_task(self, index, *arguments, env=None):
        """Runs partition `index` on card `index - 1` as a task does, with `arguments` and `env` added;
        its report's bytes and its events file's."""
        events = os.path.join(self.scratch, f"task-{index}.events.json")
        run = subprocess.run([self.suite, "-Zunstable-options", "--format", "junit", *arguments, *self.suite_args],
                             env=dict(self.env, ZLU_TEST_PARTITION=self.partition(index),
                                      ZLU_TEST_CARDS=str(index - 1), ZLU_TEST_EVENTS=events, **(env or {})),
                             capture_output=True)
        if run.returncode not in (0, 101):  # 101: some test failed
            raise SystemExit(f"task {index} ended with {run.returncode}: {run.stderr.decode(errors='replace')}")
        with open(events, "rb") as written:
            return run.stdout, written.read()

    def leave(self, index, report=None, meta=None, events=None):
        """Leaves task `index`'s report bytes, .env text and events bytes in the job folder (None: leaves
        none, or for the .env the one a task writes)."""
        for name, data in ((f"task-{index}.xml", report), (f"task-{index}.events.json", events)):
            if data is not None:
                with open(os.path.join(self.dir, name), "wb") as out:
                    out.write(data)
        if meta is None:
            meta = f"host=node{index}\ncards={index - 1}\npartition={self.partition(index)}\nstatus=0\n"
        with open(os.path.join(self.dir, f"task-{index}.env"), "w", encoding="utf-8") as out:
            out.write(meta)

    def merge(self, *arguments, output=None, timeout=60):
        """Runs the merge step on the job folder; the merged report goes to `output` (default report.xml)."""
        command = [MERGE, "--job-dir", self.dir, "--job-id", self.job_id, "--partitions", str(self.count),
                   "--suite", self.suite, "--output", output or os.path.join(self.dir, "report.xml"),
                   *arguments, "--", *self.suite_args]
        return subprocess.run(command, env=self.env, capture_output=True, text=True, timeout=timeout)

    def invalid(self, path):
        """Why the document at `path` is not valid against the JUnit schema, or None."""
        check = subprocess.run(["xmllint", "--noout", "--schema", self.schema, path], capture_output=True, text=True)
        return None if check.returncode == 0 else check.stderr.strip()

    def remove(self):
        shutil.rmtree(self.scratch)
