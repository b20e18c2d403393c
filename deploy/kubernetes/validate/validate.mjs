// Validates rendered manifests: every object against the Kubernetes schema of
// its kind, then the suite's Job against what the partitions need of it.
// Usage: node validate.mjs MANIFEST CARD_RESOURCE PARTITIONS
import { readFileSync } from "node:fs";
import { loadAll } from "js-yaml";

const [manifestPath, cardResource, partitions] = process.argv.slice(2);
const problems = [];

// The model class of an object: kubernetes-models keeps one module per
// group and version ("v1" for the core group), exporting a class per kind.
async function modelOf(object) {
  const [group, version] = object.apiVersion.includes("/") ? object.apiVersion.split("/") : [null, object.apiVersion];
  const models = await import(`kubernetes-models/${group ? `${group}/${version}` : version}`);
  const model = models[object.kind];
  if (!model) throw new Error(`no schema for ${object.apiVersion} ${object.kind}`);
  return model;
}

const containerEnv = (container) => new Map((container.env ?? []).map((entry) => [entry.name, entry.value]));

function checkSuiteJob(job) {
  const spec = job.spec ?? {};
  const pod = spec.template?.spec ?? {};
  const container = (pod.containers ?? [])[0] ?? {};
  if (String(spec.completions) !== partitions || String(spec.parallelism) !== partitions)
    problems.push(`completions ${spec.completions} and parallelism ${spec.parallelism} are not ${partitions}`);
  if (pod.restartPolicy !== "Never") problems.push(`restartPolicy is ${pod.restartPolicy}, not Never`);
  const limits = container.resources?.limits ?? {};
  if (String(limits[cardResource]) !== "1") problems.push(`the container does not ask for one ${cardResource}`);
  const script = (container.args ?? []).join("\n");
  for (const needed of ["JOB_COMPLETION_INDEX", "ZLU_TEST_PARTITION=", "/$PARTITIONS\"", "--format junit"])
    if (!script.includes(needed)) problems.push(`the container's script lacks ${needed}`);
  const env = containerEnv(container);
  for (const needed of ["ZLU_TEST_BOOTSTRAP", "ZLU_TEST_CARDS", "JOB_NAME", "NODE_NAME", "SUITE", "PARTITION_KIND"])
    if (!env.has(needed)) problems.push(`the container does not set ${needed}`);
  if (env.get("PARTITIONS") !== partitions) problems.push(`the container's PARTITIONS is not ${partitions}`);
}

const text = readFileSync(manifestPath, "utf8");
if (/@[A-Z_]+@/.test(text)) problems.push(`a setting was left unfilled: ${text.match(/@[A-Z_]+@/)[0]}`);
let objects = [];
try {
  objects = loadAll(text).filter((object) => object !== null);
} catch (error) {
  problems.push(`not YAML: ${error.reason ?? error.message}`);
}
for (const object of objects) {
  try {
    const Model = await modelOf(object);
    new Model(object).validate();
  } catch (error) {
    problems.push(`${object.kind ?? "object"}: ${error.message}`);
  }
}
const jobs = objects.filter((object) => object.kind === "Job");
const suiteJobs = jobs.filter((job) => job.spec?.completionMode === "Indexed");
if (jobs.length !== 1 || suiteJobs.length !== 1) problems.push("the manifest is not one Indexed Job");
else checkSuiteJob(suiteJobs[0]);
for (const problem of problems) console.error(`${manifestPath}: ${problem}`);
if (problems.length === 0) console.log(`${manifestPath}: valid`);
process.exit(problems.length === 0 ? 0 : 1);
