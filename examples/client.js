// The example client. Every call is a POST of URL-encoded parameters: a "simple" cross-origin
// request, which the browser sends without a preflight and lets the page read when the
// answer carries "Access-Control-Allow-Origin" for the page's origin.
"use strict";

let token = "";

function setStatus(text, isError) {
  const status = document.getElementById("status");
  status.textContent = text;
  status.className = isError ? "error" : "";
}

// Calls one command; resolves with the envelope when its errorCode is 0, rejects otherwise.
async function call(command, parameters) {
  const body = new URLSearchParams({ CMD: command, ...parameters });
  if (token) {
    body.set("Auth", token); // in the body, never in the address: addresses end up in logs
  }
  const response = await fetch(document.getElementById("api").value, { method: "POST", body });
  const envelope = await response.json();
  if (envelope.info.errorCode !== 0) {
    throw new Error(command + ": " + envelope.info.errorCode + " " + envelope.info.errorText);
  }
  return envelope;
}

// Texts become text nodes, never markup; the lines of a multi-line text (a slot's values)
// keep their breaks.
function cell(row, text) {
  const td = document.createElement("td");
  String(text).split("\n").forEach((line, index) => {
    if (index > 0) {
      td.appendChild(document.createElement("br"));
    }
    td.appendChild(document.createTextNode(line));
  });
  row.appendChild(td);
  return td;
}

function fillTable(id, rows, columns, action) {
  const body = document.querySelector("#" + id + " tbody");
  body.replaceChildren();
  for (const item of rows) {
    const row = document.createElement("tr");
    for (const column of columns) {
      cell(row, column(item));
    }
    if (action) {
      const button = document.createElement("button");
      button.textContent = action.label;
      button.addEventListener("click", () => action.run(item).catch(showError));
      cell(row, "").appendChild(button);
    }
    body.appendChild(row);
  }
}

function showError(error) {
  setStatus(error.message, true);
}

function today() {
  return new Date().toISOString().slice(0, 10);
}

async function showValues(device) {
  document.getElementById("device-name").textContent = device.modelName + " " + device.zavNum;
  const envelope = await call("Get_DevValues", { DeviceId: device.id, Period: "month", Date: today() });
  fillTable("values", envelope.data || [], [
    (slot) => slot.date,
    (slot) => slot.val,
    (slot) => slot.ras,
  ]);
  setStatus("Values of device " + device.id + ": " + (envelope.data || []).length + " days.");
}

async function showDevices(address) {
  document.getElementById("address-name").textContent = address.name;
  const envelope = await call("Get_Devices", { AddressId: address.id });
  const devices = envelope.data || [];
  fillTable("devices", devices, [(d) => d.id, (d) => d.modelName, (d) => d.zavNum],
            { label: "Month", run: showValues });
  return devices;
}

async function logIn(event) {
  if (event) {
    event.preventDefault();
  }
  token = "";
  const envelope = await call("Get_UserData", {
    Login: document.getElementById("user").value,
    Password: document.getElementById("password").value,
  });
  token = envelope.data[0].authToken;
  setStatus("Logged in as " + envelope.data[0].login + ".");
  const addresses = (await call("Get_AddressTable", {})).data || [];
  fillTable("addresses", addresses, [(a) => a.id, (a) => a.name, (a) => a.timeShift],
            { label: "Devices", run: showDevices });
  return addresses;
}

// Opens the first address and its first device, for a quick look and for the page's test.
async function openFirst() {
  const addresses = await logIn();
  if (addresses.length === 0) {
    throw new Error("no addresses");
  }
  const devices = await showDevices(addresses[0]);
  if (devices.length === 0) {
    throw new Error("no devices at " + addresses[0].name);
  }
  await showValues(devices[0]);
}

const page = new URLSearchParams(location.search);
if (window.ORVELA_API) {
  document.getElementById("api").value = window.ORVELA_API;
}
for (const [parameter, field] of [["api", "api"], ["login", "user"], ["password", "password"]]) {
  if (page.has(parameter)) {
    document.getElementById(field).value = page.get(parameter);
  }
}
document.getElementById("login").addEventListener("submit", (event) => logIn(event).catch(showError));
if (page.get("auto") === "1") {
  openFirst().catch(showError);
}
