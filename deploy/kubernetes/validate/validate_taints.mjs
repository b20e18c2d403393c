// Validates rendered DeviceTaintRules offline. The schema package has no
// DeviceTaintRule kind, so each rule's taint is checked against the schema
// of a device taint (resource.k8s.io/v1 DeviceTaint) and the rest against
// what the rule must say: the driver, the node's pool and the card's device.
// Usage: node validate_taints.mjs RULES DRIVER NODE CARD...
import { readFileSync } from "node:fs";
import { loadAll } from "js-yaml";
import { DeviceTaint } from "kubernetes-models/resource.k8s.io/v1";

const [rulesPath, driver, node, ...cards] = process.argv.slice(2);
const rules = loadAll(readFileSync(rulesPath, "utf8")).filter((rule) => rule);
const problems = [];
if (rules.length !== cards.length) problems.push(`${rules.length} rules for ${cards.length} cards`);
rules.forEach((rule, i) => {
  if (rule.apiVersion !== "resource.k8s.io/v1alpha3" || rule.kind !== "DeviceTaintRule")
    problems.push(`rule ${i} is ${rule.apiVersion} ${rule.kind}`);
  try {
    new DeviceTaint(rule.spec?.taint).validate();
  } catch (error) {
    problems.push(`rule ${i}'s taint: ${error.message}`);
  }
  if (rule.spec?.taint?.effect !== "NoSchedule") problems.push(`rule ${i}'s effect is not NoSchedule`);
  const selector = rule.spec?.deviceSelector ?? {};
  const expected = { driver, pool: node, device: `card-${cards[i]}` };
  for (const [field, value] of Object.entries(expected))
    if (selector[field] !== value) problems.push(`rule ${i} selects ${field} ${selector[field]}, not ${value}`);
});
for (const problem of problems) console.error(problem);
process.exit(problems.length ? 1 : 0);
