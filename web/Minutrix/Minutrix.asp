<!DOCTYPE html>
<!-- The product page the filter redirects to: start page, time left or denied message.
     Static; minutrix.js reads the query and fills in the text.
     Administrators: this page's host is always free of charge. For other free sites, a row
     "host:example.org" (minutrix-db add-site DB --host example.org) frees that host and its
     subdomains only; a plain row such as "127.0.0.2:8080/free" frees every URL that contains
     it, its query string included. -->
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src 'self'; style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="robots" content="noindex">
<title>Minutrix</title>
<style>
  body { font-family: sans-serif; background: #f4f5f7; color: #222; margin: 0; }
  main { max-width: 36em; margin: 4em auto; padding: 1.5em 2em; background: #fff;
         border: 1px solid #d8dbe0; border-radius: 6px; }
  h1 { font-size: 1.5em; margin-top: 0; }
  blockquote { margin: 1em 0; padding: .75em 1em; background: #fdf1f0; border-left: 4px solid #c0392b;
               white-space: pre-wrap; }
  a { word-break: break-all; }
  .hint { color: #555; font-size: .9em; }
  .lang { text-align: right; margin-bottom: 0; }
  .lang button { font: inherit; font-size: .85em; background: none; border: 1px solid #bbb;
                 border-radius: 4px; padding: .2em .6em; cursor: pointer; }
</style>
</head>
<body>
<main id="minutrix">
<h1>Minutrix</h1>
<noscript><p>This page needs JavaScript to show your browsing time.
Deze pagina heeft JavaScript nodig om uw internettijd te tonen.</p></noscript>
</main>
<script src="minutrix.js"></script>
</body>
</html>
