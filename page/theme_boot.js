(function(){
  var root=document.documentElement,query=location.search,theme=null;
  try{var m=/[?&]theme=(light|dark)/.exec(query);if(m)theme=m[1];}catch(e){}
  if(!theme){try{var s=localStorage.getItem('kiv_theme');if(s==='light'||s==='dark')theme=s;}catch(e){}}
  if(!theme){try{theme=window.matchMedia&&window.matchMedia('(prefers-color-scheme: light)').matches?'light':'dark';}catch(e){theme='dark';}}
  root.setAttribute('data-theme',theme);
  try{if(/[?&]embed=(1|true)(&|$)/.test(query))root.classList.add('embedded');}catch(e){}
  try{localStorage.setItem('kiv_theme',theme);}catch(e){}
})();
