// Validates rendered manifests: every object against the Kubernetes schema of
// its kind, then the suite's Job against what the partitions need of it and
// the merge Job against what it needs to find and merge their reports.
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
const claimOf = (pod) => (pod.volumes ?? []).find((volume) => volume.name === "reports")?.persistentVolumeClaim?.claimName;

function checkSuiteJob(job) {
  const spec = job.spec ?? {};
  const pod = spec.template?.spec ?? {};
  const container = (pod.containers ?? [])[0] ?? {};
  if (String(spec.completions) !== partitions || String(spec.parallelism) !== partitions)
    problems.push(`completions ${spec.completions} and parallelism ${spec.parallelism} are not ${partitions}`);
  if (spec.backoffLimitPerIndex !== 0) problems.push("a failed partition may be retried or stop the others");
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

// The merge Job must wait for the suite's Job with an account that may read
// it, and merge the folder the partitions write on the same claim.
function checkMergeJob(merge, suite, objects) {
  const pod = merge.spec?.template?.spec ?? {};
  const suitePod = suite.spec?.template?.spec ?? {};
  const named = (kind, name) => objects.find((object) => object.kind === kind && object.metadata?.name === name);
  const account = pod.serviceAccountName;
  if (!named("ServiceAccount", account)) problems.push(`the merge runs as ${account}, which the manifest does not make`);
  const binding = objects.find((object) => object.kind === "RoleBinding" &&
    (object.subjects ?? []).some((subject) => subject.kind === "ServiceAccount" && subject.name === account));
  const rules = named("Role", binding?.roleRef?.name)?.rules ?? [];
  if (!rules.some((rule) => rule.apiGroups?.includes("batch") && rule.resources?.includes("jobs") &&
      rule.verbs?.includes("get") && (!rule.resourceNames || rule.resourceNames.includes(suite.metadata.name))))
    problems.push(`the merge's account may not read job ${suite.metadata.name}`);
  const scripts = (pod.volumes ?? []).find((volume) => volume.configMap);
  const data = named("ConfigMap", scripts?.configMap?.name)?.data ?? {};
  const awaiting = ((pod.initContainers ?? [])[0]?.command ?? []).join(" ");
  if (!awaiting.includes("/await_job " + suite.metadata.name) || !data.await_job)
    problems.push(`the merge does not wait for job ${suite.metadata.name}`);
  const command = ((pod.containers ?? [])[0]?.command ?? []).join(" ");
  if (!data.merge_reports || !command.includes("/merge_reports ")) problems.push("the merge does not run merge_reports");
  for (const needed of [`--partitions ${partitions} `, `--job-dir /reports/${suite.metadata.name} `])
    if (!command.includes(needed)) problems.push(`the merge's command lacks ${needed.trim()}`);
  if (claimOf(pod) !== claimOf(suitePod)) problems.push("the merge reads another claim than the partitions write");
  if (pod.restartPolicy !== "Never") problems.push(`the merge's restartPolicy is ${pod.restartPolicy}, not Never`);
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
if (jobs.length !== 2 || suiteJobs.length !== 1)
  problems.push("the manifest is not one Indexed Job and one merge Job");
else {
  checkSuiteJob(suiteJobs[0]);
  checkMergeJob(jobs.find((job) => job !== suiteJobs[0]), suiteJobs[0], objects);
}
for (const problem of problems) console.error(`${manifestPath}: ${problem}`);
if (problems.length === 0) console.log(`${manifestPath}: valid`);
process.exit(problems.length === 0 ? 0 : 1);
